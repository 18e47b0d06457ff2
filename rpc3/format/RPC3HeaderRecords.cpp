#include "rpc3/format/RPC3HeaderRecords.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

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

std::optional<std::int64_t> readHeaderRecords(Utility::CFileU& file, const RecordVisitor& visit,
                                              std::string* why) {
  const auto fail = [why](std::string text) -> std::optional<std::int64_t> {
    if (why) *why = std::move(text);
    return std::nullopt;
  };
  // The record count comes from the file and is untrusted: a count whose records would run
  // past the end of the file fails at once instead of after reading the whole file.
  const std::int64_t fileSize = file.mfGetSize();
  char record[kRecordSize];
  std::int64_t records = kMinimumRecords;
  std::int64_t counted = kMinimumRecords;
  for (std::int64_t index = 0; index < records; ++index) {
    if (file.mfRead(record, kRecordSize, 1) != 1) {
      // The record after the counted ones lies in the sample data when the header fills its
      // blocks; a file whose data are shorter than a record (or absent) simply has none.
      if (index >= counted) break;
      return fail("record " + std::to_string(index) + " cannot be read whole");
    }
    const std::string_view value = recordValue(record);
    if (!visit(index, recordKeyword(record), value)) return fail("record " + std::to_string(index) + " cannot be kept");
    if (index == kCountRecordIndex) {
      records = recordsToRead(value);
      counted = countedRecords(value);
      if (counted > kMaximumRecords) {
        return fail("NUM_PARAMS " + std::to_string(counted) + " is more than the " +
                    std::to_string(kMaximumRecords) + " records a header may have");
      }
      if (!recordsFit(counted, fileSize)) {
        return fail("NUM_PARAMS " + std::to_string(counted) + ": the records would end past the end of the file");
      }
    }
  }
  return counted;
}

std::optional<std::vector<RPC3RecordReading>> listHeaderRecords(Utility::CFileU& file,
                                                                std::int64_t dataStart) {
  std::vector<RPC3RecordReading> list;
  std::unordered_set<std::string> seen;
  const auto visit = [&](std::int64_t number, std::string_view keyword, std::string_view value) {
    RPC3RecordReading& reading = list.emplace_back();
    reading.number = number;
    reading.keyword = keyword;
    reading.value = value;
    reading.dropped = !seen.insert(reading.keyword).second;
    reading.fromData = number * static_cast<std::int64_t>(kRecordSize) >= dataStart;
    return true;
  };
  if (!readHeaderRecords(file, visit)) return std::nullopt;
  return list;
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
