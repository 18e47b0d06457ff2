#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/Rpc3Writer.h"

namespace {

using namespace nodra::test;

// Samples of the data region, decoded by hand so that the writer's layout is checked against
// the group/frame rule rather than against itself.
std::vector<int> shortsAt(const Bytes& file, std::size_t start, bool bigEndian) {
  std::vector<int> samples;
  for (std::size_t i = start; i + 1 < file.size(); i += 2) {
    const unsigned value = bigEndian ? (file[i] << 8) | file[i + 1] : file[i] | (file[i + 1] << 8);
    samples.push_back(static_cast<std::int16_t>(value));
  }
  return samples;
}

TEST(Rpc3WriterTest, SamplesFollowTheGroupAndFrameLayoutWithAZeroPaddedLastGroup) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mFrames = 3;
  layout.mPtsPerFrame = 2;
  layout.mPtsPerGroup = 4;  // two frames per group
  layout.mSample = [](int channel, std::int64_t index) { return channel * 100.0 + static_cast<double>(index); };
  const Bytes little = mfBuildRpc3File(layout);
  const std::size_t start = static_cast<std::size_t>(mfGetRpc3SampleOffset(layout, 1, 1));
  ASSERT_EQ(start % 512, 0u);
  const std::vector<int> expected = {101, 102, 103, 104, 201, 202, 203, 204,
                                     105, 106, 0,   0,   205, 206, 0,   0};
  EXPECT_EQ(shortsAt(little, start, false), expected);
  EXPECT_EQ(mfGetRpc3SampleOffset(layout, 2, 5), static_cast<std::int64_t>(start + 2 * 12));

  layout.mFormat = "binary_ieee_big_end";
  EXPECT_EQ(shortsAt(mfBuildRpc3File(layout), start, true), expected);
}

TEST(Rpc3WriterTest, StoredValuesAreRoundedClampedOrSinglePrecision) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 6;
  const std::vector<double> values = {2.5, -2.5, 40000.0, -40000.0, 0.4, -1.0};
  layout.mSample = [&values](int, std::int64_t index) { return values[static_cast<std::size_t>(index - 1)]; };
  const Bytes shorts = mfBuildRpc3File(layout);
  const std::size_t start = static_cast<std::size_t>(mfGetRpc3SampleOffset(layout, 1, 1));
  EXPECT_EQ(shortsAt(shorts, start, false), (std::vector<int>{3, -3, 32767, -32768, 0, -1}));

  layout.mFloat = true;
  layout.mFormat = "BINARY_IEEE_BIG_END";
  const Bytes floats = mfBuildRpc3File(layout);
  const std::size_t floatStart = static_cast<std::size_t>(mfGetRpc3SampleOffset(layout, 1, 1));
  ASSERT_EQ(floats.size(), floatStart + 6 * 4);
  EXPECT_EQ(std::vector<std::uint8_t>(floats.begin() + static_cast<std::ptrdiff_t>(floatStart),
                                      floats.begin() + static_cast<std::ptrdiff_t>(floatStart + 4)),
            (std::vector<std::uint8_t>{0x40, 0x20, 0x00, 0x00}));  // 2.5f
  EXPECT_EQ(mfTruncate(floats, 10).size(), 10u);
}

TEST(Rpc3WriterTest, HeaderRecordsKeepRawBytesAndRefuseOverfullBlocks) {
  Rpc3HeaderWriter writer;
  writer.mfAdd(std::string(40, 'K'), "cut").mfAdd(Rpc3Record::sfPadded("PAD", "v"));
  const Bytes bytes = writer.mfGetBytes();
  ASSERT_EQ(bytes.size(), 512u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 35), std::string(32, 'K') + "cut");
  EXPECT_EQ(bytes[35], 0);
  EXPECT_EQ(bytes[128 + 3], ' ');
  EXPECT_EQ(bytes[128 + 127], ' ');
  EXPECT_EQ(bytes[256], 0);
  writer.mfAdd("THIRD", "").mfAdd("FOURTH", "");
  EXPECT_EQ(writer.mfGetBytes(1, 0).size(), 512u);
  EXPECT_EQ(writer.mfGetBytes().size(), 1024u);
  writer.mfAdd("FIFTH", "");
  EXPECT_THROW(writer.mfGetBytes(1), std::invalid_argument);
}

}  // namespace
