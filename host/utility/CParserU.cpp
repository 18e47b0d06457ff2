#include "host/utility/CParserU.h"

namespace TamblixHq::NODRA::Utility {

CParserU::CParserU(const char* separators) : mSeparators(separators == nullptr ? "" : separators) {}

const CStringU* CParserU::mfParse(const CStringU& text) {
  mTokens.clear();
  const std::string& source = text.mfStd();
  std::size_t begin = 0;
  for (;;) {
    // find_first_of with an explicit length so that an empty separator set finds nothing.
    const std::size_t end = source.find_first_of(mSeparators.data(), begin, mSeparators.size());
    if (end == std::string::npos) {
      mTokens.emplace_back(source.substr(begin));
      break;
    }
    mTokens.emplace_back(source.substr(begin, end - begin));
    begin = end + 1;
  }
  return mTokens.data();
}

std::size_t CParserU::mfGetNumberOfTokens() const { return mTokens.size(); }

const CStringU& CParserU::mfGetToken(std::size_t index) const { return mTokens[index]; }

}  // namespace TamblixHq::NODRA::Utility
