// Texts of file headers as every output shows them. Headers carry 8-bit texts without
// saying their encoding: valid UTF-8 is kept as it is, anything else is read as Latin-1
// (ISO 8859-1), the usual 8-bit text of the tools that write such files. One function for
// every output, so that a listing, a CSV header and a JSON answer show the same characters.
#pragma once

#include <string>
#include <string_view>

namespace TamblixHq::NODRA::Utility {

// True when `text` is well-formed UTF-8: no overlong forms, no surrogates, nothing above
// U+10FFFF, no sequence cut short.
bool sfIsUtf8(std::string_view text);

// `text` as UTF-8: itself when sfIsUtf8, otherwise each byte read as a Latin-1 character.
std::string sfHeaderTextToUtf8(std::string_view text);

}  // namespace TamblixHq::NODRA::Utility
