#include "tests/support/Rpc3Writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>

namespace nodra::test {

namespace {

constexpr std::size_t kRecordsPerBlock = kRpc3BlockSize / kRpc3RecordSize;

void putField(Rpc3Record& record, std::size_t offset, std::size_t size, const std::string& text,
              char pad) {
  const std::size_t length = std::min(size, text.size());
  std::memcpy(record.mBytes.data() + offset, text.data(), length);
  std::memset(record.mBytes.data() + offset + length, pad, size - length);
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::string channelText(const Rpc3FileLayout& layout, int channel,
                        std::string Rpc3ChannelTexts::*member, const std::string& fallback) {
  const auto index = static_cast<std::size_t>(channel - 1);
  if (index < layout.mChannelTexts.size() && !(layout.mChannelTexts[index].*member).empty()) {
    return layout.mChannelTexts[index].*member;
  }
  return fallback;
}

void storeSample(Bytes& bytes, std::int64_t offset, double value, bool isFloat, bool bigEndian) {
  std::uint32_t bits = 0;
  std::size_t size = 2;
  if (isFloat) {
    const float single = static_cast<float>(value);
    std::memcpy(&bits, &single, sizeof bits);
    size = 4;
  } else {
    const double clamped = std::isnan(value) ? 0.0 : std::min(32767.0, std::max(-32768.0, value));
    bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(clamped)));
  }
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t shift = 8 * (bigEndian ? size - 1 - i : i);
    bytes[static_cast<std::size_t>(offset) + i] = static_cast<std::uint8_t>(bits >> shift);
  }
}

}  // namespace

Rpc3Record Rpc3Record::sfText(const std::string& keyword, const std::string& value) {
  return sfPadded(keyword, value, '\0');
}

Rpc3Record Rpc3Record::sfPadded(const std::string& keyword, const std::string& value, char pad) {
  Rpc3Record record;
  putField(record, 0, kRpc3KeywordSize, keyword, pad);
  putField(record, kRpc3KeywordSize, kRpc3RecordSize - kRpc3KeywordSize, value, pad);
  return record;
}

Rpc3Record Rpc3Record::sfRaw(const std::string& bytes) {
  Rpc3Record record;
  putField(record, 0, kRpc3RecordSize, bytes, '\0');
  return record;
}

std::size_t Rpc3HeaderWriter::mfGetBlocks(std::size_t minPadding) const {
  return (mRecords.size() + minPadding + kRecordsPerBlock - 1) / kRecordsPerBlock;
}

Bytes Rpc3HeaderWriter::mfGetBytes(std::size_t blocks, std::size_t minPadding) const {
  if (blocks == 0) {
    blocks = mfGetBlocks(minPadding);
  }
  if (mRecords.size() > blocks * kRecordsPerBlock) {
    throw std::invalid_argument("RPC III header records do not fit in the blocks");
  }
  Bytes bytes(blocks * kRpc3BlockSize, 0);
  for (std::size_t i = 0; i < mRecords.size(); ++i) {
    std::copy(mRecords[i].mBytes.begin(), mRecords[i].mBytes.end(),
              bytes.begin() + static_cast<std::ptrdiff_t>(i * kRpc3RecordSize));
  }
  return bytes;
}

namespace {

struct DataGeometry {
  std::int64_t mChannels, mPerFrame, mPerGroup, mFramesPerGroup, mGroups, mSampleSize;
};

DataGeometry geometryOf(const Rpc3FileLayout& layout) {
  DataGeometry g{};
  g.mChannels = layout.mChannels;
  g.mPerFrame = layout.mPtsPerFrame;
  g.mPerGroup = layout.mPtsPerGroup == 0 ? layout.mPtsPerFrame : layout.mPtsPerGroup;
  if (g.mChannels < 1 || g.mPerFrame < 1 || g.mPerGroup < g.mPerFrame || layout.mFrames < 0) {
    throw std::invalid_argument("RPC III layout needs C >= 1, P >= 1, G >= P, frames >= 0");
  }
  g.mFramesPerGroup = g.mPerGroup / g.mPerFrame;
  g.mGroups = (layout.mFrames + g.mFramesPerGroup - 1) / g.mFramesPerGroup;
  g.mSampleSize = layout.mFloat ? 4 : 2;
  return g;
}

// Blocks of a standard header: as given, or the fewest that hold the records (filled) or
// the records and one padding record (padded).
std::size_t headerBlocksOf(const Rpc3FileLayout& layout, std::size_t records) {
  if (layout.mHeaderBlocks != 0) return layout.mHeaderBlocks;
  const std::size_t padding = layout.mHeaderForm == Rpc3HeaderForm::eFilled ? 0 : 1;
  return (records + padding + kRecordsPerBlock - 1) / kRecordsPerBlock;
}

std::vector<std::pair<std::string, std::string>> headerRecords(const Rpc3FileLayout& layout,
                                                               const DataGeometry& g) {
  std::vector<std::pair<std::string, std::string>> records = {
      {"FORMAT", layout.mFormat},
      {"NUM_HEADER_BLOCKS", ""},
      {"NUM_PARAMS", ""},
      {"FILE_TYPE", "TIME_HISTORY"},
      {"TIME_TYPE", "RESPONSE"},
      {"DELTA_T", layout.mDeltaT},
      {"CHANNELS", std::to_string(layout.mChannels)},
      {"DATE", layout.mDate},
      {"OPERATION", "TEST_WRITER"},
      {"FRAMES", std::to_string(layout.mFrames)},
      {"PTS_PER_FRAME", std::to_string(g.mPerFrame)},
      {"PTS_PER_GROUP", std::to_string(g.mPerGroup)},
      {"DATA_TYPE", layout.mFloat ? "FLOATING_POINT" : "SHORT_INTEGER"},
      {"HALF_FRAMES", "NO"},
      {"REPEATS", "1"},
      {"BYPASS_FILTER", "0"}};
  for (int c = 1; c <= layout.mChannels; ++c) {
    const std::string n = std::to_string(c);
    records.emplace_back("DESC.CHAN_" + n, channelText(layout, c, &Rpc3ChannelTexts::mDesc, "Channel " + n));
    records.emplace_back("UNITS.CHAN_" + n, channelText(layout, c, &Rpc3ChannelTexts::mUnits, "V"));
    records.emplace_back("SCALE.CHAN_" + n, channelText(layout, c, &Rpc3ChannelTexts::mScale, "1"));
    records.emplace_back("LOWER_LIMIT.CHAN_" + n, channelText(layout, c, &Rpc3ChannelTexts::mLower, "-1"));
    records.emplace_back("UPPER_LIMIT.CHAN_" + n, channelText(layout, c, &Rpc3ChannelTexts::mUpper, "1"));
    records.emplace_back("MAP.CHAN_" + n, n);
  }
  std::set<std::string> overridden;
  for (const auto& extra : layout.mExtraKeywords) {
    const auto same = std::find_if(records.begin(), records.end(),
                                   [&extra](const auto& r) { return r.first == extra.first; });
    if (same != records.end() && overridden.insert(extra.first).second) {
      same->second = extra.second;
    } else {
      records.push_back(extra);
    }
  }
  for (const auto& omitted : layout.mOmitKeywords) {
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [&omitted](const auto& r) { return r.first == omitted; }),
                  records.end());
  }
  if (layout.mHeaderForm == Rpc3HeaderForm::eFilled) {
    for (int n = 1; records.size() % kRecordsPerBlock != 0; ++n) {
      records.emplace_back("FILL_" + std::to_string(n), "fill");
    }
  }
  const std::size_t blocks = headerBlocksOf(layout, records.size());
  for (auto& record : records) {
    if (record.first == "NUM_HEADER_BLOCKS" && !overridden.count(record.first)) {
      record.second = std::to_string(blocks);
    } else if (record.first == "NUM_PARAMS" && !overridden.count(record.first)) {
      record.second = std::to_string(records.size());
    }
  }
  return records;
}

// Samples between the start of the data and value `index` of `channel` (both from 1).
std::int64_t sampleIndexInData(const DataGeometry& g, int channel, std::int64_t index) {
  const std::int64_t frame = (index - 1) / g.mPerFrame;  // from 0
  return (frame / g.mFramesPerGroup) * g.mPerGroup * g.mChannels +
         (frame % g.mFramesPerGroup) * g.mPerFrame + (channel - 1) * g.mPerGroup +
         (index - 1) % g.mPerFrame;
}

}  // namespace

std::int64_t mfGetRpc3SampleOffset(const Rpc3FileLayout& layout, int channel, std::int64_t index) {
  const DataGeometry g = geometryOf(layout);
  const std::size_t blocks = headerBlocksOf(layout, headerRecords(layout, g).size());
  return static_cast<std::int64_t>(blocks * kRpc3BlockSize) +
         sampleIndexInData(g, channel, index) * g.mSampleSize;
}

Bytes mfBuildRpc3File(const Rpc3FileLayout& layout) {
  const DataGeometry g = geometryOf(layout);
  const auto records = headerRecords(layout, g);
  Rpc3HeaderWriter header;
  for (const auto& record : records) {
    header.mfAdd(record.first, record.second);
  }
  Bytes bytes = header.mfGetBytes(headerBlocksOf(layout, records.size()));
  const std::int64_t dataStart = static_cast<std::int64_t>(bytes.size());
  bytes.resize(bytes.size() +
                   static_cast<std::size_t>(g.mGroups * g.mPerGroup * g.mChannels * g.mSampleSize),
               0);

  const bool bigEndian = equalIgnoringCase(layout.mFormat, "BINARY_IEEE_BIG_END");
  const std::int64_t values = layout.mFrames * g.mPerFrame;
  for (int c = 1; c <= layout.mChannels; ++c) {
    for (std::int64_t k = 1; k <= values; ++k) {
      const double value = layout.mSample ? layout.mSample(c, k) : 0.0;
      storeSample(bytes, dataStart + sampleIndexInData(g, c, k) * g.mSampleSize, value,
                  layout.mFloat, bigEndian);
    }
  }
  return bytes;
}

Bytes mfTruncate(Bytes bytes, std::size_t length) {
  if (length < bytes.size()) {
    bytes.resize(length);
  }
  return bytes;
}

void mpWriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

}  // namespace nodra::test
