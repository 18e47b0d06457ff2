// Builds RPC III files for tests and benchmarks: raw header records for damaged or unusual
// headers, and complete files with a chosen channel layout, sample width and byte order.
// Layout facts: doc/rpc3-format.md. Plain values; not shared between threads.

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace nodra::test {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRpc3RecordSize = 128;
constexpr std::size_t kRpc3KeywordSize = 32;
constexpr std::size_t kRpc3BlockSize = 512;

// One 128-byte header record.
struct Rpc3Record {
  std::array<std::uint8_t, kRpc3RecordSize> mBytes{};

  // Keyword and value texts, each cut to its field and followed by NULs; a text that fills
  // its field exactly has no NUL.
  static Rpc3Record sfText(const std::string& keyword, const std::string& value);
  // As sfText, but the rest of each field is filled with `pad` instead of NULs.
  static Rpc3Record sfPadded(const std::string& keyword, const std::string& value, char pad = ' ');
  // Exactly these bytes (at most 128), then NULs.
  static Rpc3Record sfRaw(const std::string& bytes);
  // All NUL: the usual padding record.
  static Rpc3Record sfNul() { return Rpc3Record(); }
};

// An ordered run of header records packed into 512-byte blocks.
class Rpc3HeaderWriter {
public:
  Rpc3HeaderWriter& mfAdd(const std::string& keyword, const std::string& value) {
    return mfAdd(Rpc3Record::sfText(keyword, value));
  }
  Rpc3HeaderWriter& mfAdd(const Rpc3Record& record) {
    mRecords.push_back(record);
    return *this;
  }
  std::size_t mfGetRecordCount() const { return mRecords.size(); }

  // Blocks needed for the records plus `minPadding` NUL records.
  std::size_t mfGetBlocks(std::size_t minPadding = 1) const;

  // The header bytes: `blocks` blocks (0: mfGetBlocks(minPadding)), records after the added
  // ones all NUL. Throws std::invalid_argument when the records do not fit.
  Bytes mfGetBytes(std::size_t blocks = 0, std::size_t minPadding = 1) const;

private:
  std::vector<Rpc3Record> mRecords;
};

// Texts of one channel's keywords; an empty text means the writer's default.
struct Rpc3ChannelTexts {
  std::string mDesc;   // default "Channel <n>"
  std::string mUnits;  // default "V"
  std::string mScale;  // default "1"
  std::string mLower;  // default "-1"
  std::string mUpper;  // default "1"
};

// How a standard header ends: with an all-NUL padding record (record NUM_PARAMS, which the
// reader reads too), or with its records filling the blocks exactly, so that the reader's
// one record more is the first 128 bytes of the sample data. Other writers do both.
enum class Rpc3HeaderForm { ePadded, eFilled };

// A complete file: header records in the usual order, then the sample data.
struct Rpc3FileLayout {
  int mChannels = 1;
  std::int64_t mFrames = 1;   // frames of each channel; values per channel = frames * P
  int mPtsPerFrame = 16;      // P
  int mPtsPerGroup = 0;       // G; 0 means G = P
  bool mFloat = false;        // DATA_TYPE FLOATING_POINT (4-byte floats) instead of SHORT_INTEGER
  std::string mFormat = "BINARY_IEEE_LITTLE_END";  // "BINARY_IEEE_BIG_END" (any case): big-endian
  std::vector<Rpc3ChannelTexts> mChannelTexts;     // missing channels get the defaults
  std::string mDeltaT = "0.001";
  std::string mDate = "01-Jan-2020 12:00:00";
  // Added after the standard keywords; a standard keyword listed here gets this value in its
  // usual place instead.
  std::vector<std::pair<std::string, std::string>> mExtraKeywords;
  std::vector<std::string> mOmitKeywords;  // standard keywords left out
  std::size_t mHeaderBlocks = 0;           // 0: smallest count for mHeaderForm
  // eFilled adds records "FILL_1" ... (value "fill") up to a multiple of four records, so
  // that NUM_PARAMS = 4 x NUM_HEADER_BLOCKS.
  Rpc3HeaderForm mHeaderForm = Rpc3HeaderForm::ePadded;
  // Stored sample of (channel from 1, value index from 1): rounded and clamped to int16 for
  // short data, rounded to float otherwise. Unset: 0.
  std::function<double(int channel, std::int64_t index)> mSample;
};

// Bytes of the file described by `layout`. The data region is a whole number of groups; the
// part of the last group after the last frame holds zeros.
Bytes mfBuildRpc3File(const Rpc3FileLayout& layout);

// Byte offset of value `index` (from 1) of `channel` (from 1) in a file built from `layout`.
std::int64_t mfGetRpc3SampleOffset(const Rpc3FileLayout& layout, int channel, std::int64_t index);

// The first `length` bytes (all when shorter).
Bytes mfTruncate(Bytes bytes, std::size_t length);

// Writes `bytes` to `path`, replacing the file; throws std::runtime_error on failure.
void mpWriteFile(const std::string& path, const Bytes& bytes);

}  // namespace nodra::test
