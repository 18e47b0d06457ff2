#include "host/utility/CStringU.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <stdlib.h>

namespace TamblixHq::NODRA::Utility {

namespace {

int fSign(int value) { return (value > 0) - (value < 0); }

unsigned char fLower(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

int fICompare(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
  const std::size_t common = aLength < bLength ? aLength : bLength;
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char ca = fLower(static_cast<unsigned char>(a[i]));
    const unsigned char cb = fLower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (aLength == bLength) return 0;
  return aLength < bLength ? -1 : 1;
}

bool fIsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool fIsBlank(char c) { return c == ' ' || c == '\t'; }

// The "C" locale for strtod_l, made once and never freed; locale_t objects may be used by
// several threads at once.
locale_t fCLocale() {
  static const locale_t sLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return sLocale;
}

}  // namespace

CStringU::CStringU() = default;

CStringU::CStringU(const char* text, std::size_t length) {
  if (text == nullptr) return;
  if (length == npos)
    mText.assign(text);
  else
    mText.assign(text, length);
}

CStringU::CStringU(const std::string& text) : mText(text) {}
CStringU::CStringU(const CStringU& other) = default;
CStringU::CStringU(CStringU&& other) noexcept : mText(std::move(other.mText)) {}

CStringU& CStringU::operator=(const char* text) {
  if (text == nullptr)
    mText.clear();
  else
    mText.assign(text);
  return *this;
}

CStringU& CStringU::operator=(const CStringU& other) = default;

CStringU& CStringU::operator=(CStringU&& other) noexcept {
  mText = std::move(other.mText);
  return *this;
}

const char* CStringU::mfGetString() const { return mText.c_str(); }
const char* CStringU::mfGetTString() const { return mText.c_str(); }
const std::string& CStringU::mfStd() const { return mText; }
std::size_t CStringU::mfGetLength() const { return mText.size(); }
bool CStringU::mfIsEmpty() const { return mText.empty(); }

int CStringU::mfCompare(const CStringU& other) const { return fSign(mText.compare(other.mText)); }

int CStringU::mfCompare(const char* other) const {
  return fSign(mText.compare(other == nullptr ? "" : other));
}

int CStringU::mfICompare(const CStringU& other) const {
  return fICompare(mText.data(), mText.size(), other.mText.data(), other.mText.size());
}

int CStringU::mfICompare(const char* other) const {
  if (other == nullptr) other = "";
  return fICompare(mText.data(), mText.size(), other, std::strlen(other));
}

CStringU& CStringU::mfAddString(const char* text) {
  if (text != nullptr) mText.append(text);
  return *this;
}

CStringU& CStringU::mfAddString(const CStringU& text, std::size_t length) {
  // append(str, pos, n) clips n to the text and copes with text being *this.
  mText.append(text.mText, 0, length);
  return *this;
}

CStringU& CStringU::mfAddChar(char c) {
  mText.push_back(c);
  return *this;
}

CStringU& CStringU::mfAddInt(int value) {
  mText.append(std::to_string(value));
  return *this;
}

CStringU& CStringU::mfAddLong(long long value) {
  mText.append(std::to_string(value));
  return *this;
}

CStringU& CStringU::mfEraseFront(std::size_t n) {
  mText.erase(0, n);
  return *this;
}

CStringU& CStringU::mfEraseBack(std::size_t n) {
  mText.resize(n >= mText.size() ? 0 : mText.size() - n);
  return *this;
}

std::size_t CStringU::mfFindFirstOf(const char* characters, std::size_t from) const {
  if (characters == nullptr) return npos;
  const std::size_t position = mText.find_first_of(characters, from);
  return position == std::string::npos ? npos : position;
}

CStringU& CStringU::mfRemoveBlanks(int mode) {
  if (mode & 4) {
    std::size_t end = mText.size();
    while (end > 0 && fIsBlank(mText[end - 1])) --end;
    mText.resize(end);
  }
  if (mode & 1) {
    std::size_t begin = 0;
    while (begin < mText.size() && fIsBlank(mText[begin])) ++begin;
    mText.erase(0, begin);
  }
  return *this;
}

std::int32_t CStringU::mfGetInt() const {
  const char* p = mText.data();
  const char* const end = p + mText.size();
  while (p != end && fIsSpace(*p)) ++p;
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Accumulate the magnitude, held at one past INT32_MAX so that it cannot overflow and
  // both limits remain reachable.
  constexpr std::int64_t kCap = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  std::int64_t magnitude = 0;
  for (; p != end && *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > kCap) magnitude = kCap;
  }
  if (negative) return static_cast<std::int32_t>(-magnitude);  // -kCap is INT32_MIN
  return magnitude >= kCap ? std::numeric_limits<std::int32_t>::max()
                           : static_cast<std::int32_t>(magnitude);
}

std::int32_t CStringU::mfGetLong() const { return mfGetInt(); }

double CStringU::mfGetDouble() const {
  // strtod_l stops at the terminating NUL (or an embedded one), never beyond the text.
  const locale_t cLocale = fCLocale();
  if (cLocale == static_cast<locale_t>(nullptr)) return std::strtod(mText.c_str(), nullptr);
  return strtod_l(mText.c_str(), nullptr, cLocale);
}

bool CStringU::operator==(const CStringU& other) const { return mText == other.mText; }
bool CStringU::operator!=(const CStringU& other) const { return mText != other.mText; }
bool CStringU::operator<(const CStringU& other) const { return mText < other.mText; }

}  // namespace TamblixHq::NODRA::Utility
