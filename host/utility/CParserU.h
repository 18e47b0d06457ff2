// Splits a text into tokens at separator characters, keeping empty tokens, so that field
// positions in texts such as "name:unit:comment" are preserved. One user at a time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Utility {

class CParserU {
public:
  // Every byte of separators (a NUL-terminated text; null gives none) separates tokens.
  explicit CParserU(const char* separators);

  // Splits at every separator: n separators give n + 1 tokens, empty ones included ("a::b"
  // gives "a", "", "b"; "" gives one empty token). The array belongs to the parser and is
  // valid until the next mfParse.
  const CStringU* mfParse(const CStringU& text);
  std::size_t mfGetNumberOfTokens() const;
  const CStringU& mfGetToken(std::size_t index) const;  // REQUIRES: index < mfGetNumberOfTokens()

private:
  std::string mSeparators;
  std::vector<CStringU> mTokens;
};

}  // namespace TamblixHq::NODRA::Utility
