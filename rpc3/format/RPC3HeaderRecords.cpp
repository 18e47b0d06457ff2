#include "rpc3/format/RPC3HeaderRecords.h"

#include <algorithm>
#include <cstring>

#include "host/utility/CFileU.h"
#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

std::string_view fieldText(const char* field, std::size_t size) {
  const void* nul = std::memchr(field, '\0', size);
  return std::string_view(field, nul == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(nul) - field));
}

namespace {

std::int64_t countOf(std::string_view countValue) {
  return Utility::CStringU(countValue.data(), countValue.size()).mfGetInt();
}

}  // namespace

std::int64_t countedRecords(std::string_view countValue) {
  return std::max(countOf(countValue), kMinimumRecords);
}

std::int64_t recordsToRead(std::string_view countValue) {
  return std::max(countOf(countValue) + 1, kMinimumRecords);
}

bool recordsFit(std::int64_t records, std::int64_t fileSize) {
  return fileSize < 0 || records * static_cast<std::int64_t>(kRecordSize) <= fileSize;
}

bool looksLikeRPC3Header(const char* bytes, std::size_t size) {
  if (size < kKeywordSize) return false;
  const std::string_view text = recordKeyword(bytes);
  Utility::CStringU keyword(text.data(), text.size());
  return keyword.mfRemoveBlanks(5).mfICompare("FORMAT") == 0;
}

bool looksLikeRPC3File(Utility::CFileU& file) {
  char keyword[kKeywordSize];
  return file.mfRead(keyword, sizeof keyword, 1) == 1 && looksLikeRPC3Header(keyword, sizeof keyword);
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
