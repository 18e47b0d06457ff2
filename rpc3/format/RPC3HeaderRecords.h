// The header records of an RPC III file and the rule by which the reader takes them: by
// position, the third record's value giving the last record read. Pure functions on
// bytes, shared by the header reader and the file-type detector. Layout: doc/rpc3-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace TamblixHq::NODRA::Utility {
class CFileU;
}

namespace TamblixHq::NODRA::Drivers::RPC3 {

inline constexpr std::size_t kRecordSize = 128;
inline constexpr std::size_t kKeywordSize = 32;
inline constexpr std::size_t kValueSize = kRecordSize - kKeywordSize;
// Records 0 to 2 are always read; the value of record 2 names the last record read.
inline constexpr std::int64_t kMinimumRecords = 3;
inline constexpr std::int64_t kCountRecordIndex = 2;
// The most records a header may count (16 MiB of records, some 21 000 channels): a larger
// count is refused before its records are read.
inline constexpr std::int64_t kMaximumRecords = 131072;

// The text of a field: its bytes up to the first NUL, or the whole field.
std::string_view fieldText(const char* field, std::size_t size);
inline std::string_view recordKeyword(const char* record) { return fieldText(record, kKeywordSize); }
inline std::string_view recordValue(const char* record) {
  return fieldText(record + kKeywordSize, kValueSize);
}

// Records the header counts when the count record's value text is `countValue`: records
// 0 to N - 1, never fewer than the kMinimumRecords read by position. They lie in the header
// blocks.
std::int64_t countedRecords(std::string_view countValue);

// Records the reader reads: the counted ones and record N after them, never fewer than
// kMinimumRecords. Record N is a padding record, or the first bytes of the sample data when
// the counted records fill their blocks.
std::int64_t recordsToRead(std::string_view countValue);

// Whether `records` records fit in a file of `fileSize` bytes (a negative size is unknown
// and fits).
bool recordsFit(std::int64_t records, std::int64_t fileSize);

// Reads the header records of `file`, from its current position, by the count rule:
// `visit(number, keyword, value)` for each record in file order (its texts live until the
// call returns). Answers the records the header counts, or nothing when one of them cannot
// be read whole, the count reaches past the end of the file or beyond kMaximumRecords, or
// `visit` answers false; `why` then says which, when given.
using RecordVisitor = std::function<bool(std::int64_t, std::string_view, std::string_view)>;
std::optional<std::int64_t> readHeaderRecords(Utility::CFileU& file, const RecordVisitor& visit,
                                              std::string* why = nullptr);

// One header record as the reader took it, for people who ask what a header holds.
struct RPC3RecordReading {
  std::int64_t number = 0;  // from 0, in file order
  std::string keyword;      // the field's text, as stored
  std::string value;
  bool dropped = false;     // its keyword came earlier: the earlier value is the one used
  bool fromData = false;    // it lies at or after the start of the sample data
};

// Every record the reader reads from `file` (positioned at its start), with `dataStart`,
// the byte where the samples start, telling which lie in the data. Nothing when the header
// cannot be read.
std::optional<std::vector<RPC3RecordReading>> listHeaderRecords(Utility::CFileU& file,
                                                                std::int64_t dataStart);

// Whether a file whose first `size` bytes are `bytes` is an RPC III file: its first record,
// which the reader takes as "FORMAT" by position, has that keyword, blanks around it and
// letter case aside. A damaged file that begins so is still one, so that opening it says
// why its header cannot be read.
bool looksLikeRPC3Header(const char* bytes, std::size_t size);
// The same for an open file positioned at its start; reads its first keyword field.
bool looksLikeRPC3File(Utility::CFileU& file);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
