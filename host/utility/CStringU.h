// Owned 8-bit string used throughout the host and the drivers: texts of header records,
// identifiers and paths, with C-library-like numeric conversions that never raise.
// Like std::string, one object may be read by many threads but written by one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace TamblixHq::NODRA::Utility {

class CStringU {
public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  CStringU();
  // npos takes the text up to its NUL; any other length takes exactly that many bytes,
  // NULs included. A null text gives "".
  CStringU(const char* text, std::size_t length = npos);
  CStringU(const std::string& text);
  CStringU(const CStringU& other);
  CStringU(CStringU&& other) noexcept;
  CStringU& operator=(const char* text);  // null gives ""
  CStringU& operator=(const CStringU& other);
  CStringU& operator=(CStringU&& other) noexcept;

  // NUL-terminated text, valid until the next change of this object.
  const char* mfGetString() const;
  const char* mfGetTString() const;  // same text, kept for callers that use this name
  const std::string& mfStd() const;
  std::size_t mfGetLength() const;
  bool mfIsEmpty() const;

  // Byte-wise comparison (bytes as unsigned, embedded NULs included): 0 when equal,
  // negative or positive like strcmp. A null text compares as "".
  int mfCompare(const CStringU& other) const;
  int mfCompare(const char* other) const;
  // As mfCompare with ASCII letters folded to lower case; other bytes compare as they are.
  int mfICompare(const CStringU& other) const;
  int mfICompare(const char* other) const;

  CStringU& mfAddString(const char* text);  // null appends nothing
  // Appends the first `length` characters of text (all of them for npos or a longer length).
  CStringU& mfAddString(const CStringU& text, std::size_t length = npos);
  CStringU& mfAddChar(char c);
  CStringU& mfAddInt(int value);         // decimal, '-' for negatives, no leading zeros
  CStringU& mfAddLong(long long value);  // same

  // Remove up to n characters at the front or back; a larger n empties the string.
  CStringU& mfEraseFront(std::size_t n);
  CStringU& mfEraseBack(std::size_t n);

  // Position of the first byte at or after `from` that is one of `characters` (a
  // NUL-terminated set); npos when there is none or the set is null.
  std::size_t mfFindFirstOf(const char* characters, std::size_t from = 0) const;

  // Strips blanks (' ' and '\t'): mode bit 1 at the front, bit 4 at the back, so 5 strips
  // both ends. Other bits are ignored; blanks inside the text are kept.
  CStringU& mfRemoveBlanks(int mode);

  // Integer value: leading white space skipped, optional sign, decimal digits up to the
  // first other byte. No digits gives 0; values outside 32 bits saturate to INT32_MIN or
  // INT32_MAX. Never raises and never reads past the text.
  std::int32_t mfGetInt() const;
  std::int32_t mfGetLong() const;  // same as mfGetInt: long has 32 bits where the files come from
  // Floating value parsed as strtod does in the "C" locale, whatever the process locale:
  // decimal or hexadecimal, exponent, "inf", "nan". No number gives 0.0, overflow +-HUGE_VAL.
  // Safe to call concurrently on different objects.
  double mfGetDouble() const;

  bool operator==(const CStringU& other) const;
  bool operator!=(const CStringU& other) const;
  bool operator<(const CStringU& other) const;  // byte-wise order of mfCompare

private:
  std::string mText;
};

}  // namespace TamblixHq::NODRA::Utility
