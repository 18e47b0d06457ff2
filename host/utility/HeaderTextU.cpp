#include "host/utility/HeaderTextU.h"

namespace TamblixHq::NODRA::Utility {

bool sfIsUtf8(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = byte(i);
    if (c < 0x80) {
      ++i;
      continue;
    }
    // The lead byte gives the length and the range its second byte may take (RFC 3629).
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;   // overlong below
      if (c == 0xED) high = 0x9F;  // surrogates above
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;   // overlong below
      if (c == 0xF4) high = 0x8F;  // beyond U+10FFFF above
    } else {
      return false;
    }
    if (text.size() - i < length || byte(i + 1) < low || byte(i + 1) > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      if ((byte(i + k) & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

std::string sfHeaderTextToUtf8(std::string_view text) {
  if (sfIsUtf8(text)) return std::string(text);
  std::string converted;
  converted.reserve(text.size() * 2);
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      converted += c;
    } else {
      converted += static_cast<char>(0xC0 | (byte >> 6));
      converted += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return converted;
}

}  // namespace TamblixHq::NODRA::Utility
