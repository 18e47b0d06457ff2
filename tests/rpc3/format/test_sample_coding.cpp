// The sample layout arithmetic and byte decoding, on numbers and byte literals alone.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "rpc3/format/RPC3SampleCoding.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {
namespace {

RPC3Layout layout(std::int64_t B, std::int64_t C, std::int64_t P, std::int64_t G) {
  RPC3Layout l;
  l.headerBlocks = B;
  l.channels = C;
  l.pointsPerFrame = P;
  l.pointsPerGroup = G;
  return l;
}

TEST(SampleLayout, FramesLieGroupByGroupWithChannelsSideBySide) {
  const RPC3Layout l = layout(2, 3, 1024, 2048);
  // Frame 3 of channel 2: one whole group (2048 x 3), frame 0 of its group, after channel 1.
  EXPECT_EQ(frameBytePosition(l, 2, 3, 2), 2 * 512 + 2 * (6144 + 2048));
  EXPECT_EQ(frameBytePosition(l, 2, 3, 4), 2 * 512 + 4 * (6144 + 2048));
  EXPECT_EQ(frameBytePosition(l, 1, 1, 2), 1024);
  EXPECT_EQ(frameBytePosition(l, 3, 2, 2), 1024 + 2 * (1024 + 2 * 2048));
  // G not a multiple of P: the rest of a channel's group holds no frame.
  const RPC3Layout odd = layout(1, 2, 4, 10);
  EXPECT_EQ(frameBytePosition(odd, 1, 3, 2), 512 + 2 * (20 + 0));
  EXPECT_EQ(frameBytePosition(odd, 2, 2, 2), 512 + 2 * (4 + 10));
}

TEST(SampleLayout, PositionsPastFourGiBAreExactAndOverflowIsReported) {
  const RPC3Layout l = layout(1, 16, 1024, 1024);
  // Frame 300000 of channel 16: (299999 * 16 * 1024 + 15 * 1024) samples of 4 bytes.
  const std::int64_t expected = 512 + 4 * (299999LL * 16 * 1024 + 15 * 1024);
  ASSERT_GT(expected, std::int64_t{1} << 32);
  EXPECT_EQ(frameBytePosition(l, 16, 300000, 4), expected);
  const std::int64_t huge = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(frameBytePosition(layout(huge, huge, 1, huge), huge, huge, 4), std::nullopt);
}

TEST(SampleLayout, LayoutsThatCannotAddressAChannelAreExplained) {
  EXPECT_EQ(checkLayout(layout(1, 3, 4, 8), 3), std::nullopt);
  EXPECT_NE(checkLayout(layout(1, 3, 0, 8), 1)->find("PTS_PER_FRAME is 0"), std::string::npos);
  EXPECT_NE(checkLayout(layout(1, 3, 8, 4), 1)->find("smaller than PTS_PER_FRAME"),
            std::string::npos);
  EXPECT_NE(checkLayout(layout(-1, 3, 4, 8), 1)->find("NUM_HEADER_BLOCKS"), std::string::npos);
  EXPECT_NE(checkLayout(layout(1, 3, 4, 8), 0)->find("channel 0"), std::string::npos);
  EXPECT_NE(checkLayout(layout(1, 3, 4, 8), 4)->find("channels 1 to 3"), std::string::npos);
}

TEST(SampleDecoding, BytesAreReadInTheNamedOrder) {
  const unsigned char twelve[] = {0x01, 0x02};
  EXPECT_EQ(decodeInt16LE(twelve), 513);
  EXPECT_EQ(decodeInt16BE(twelve), 258);
  const unsigned char minusOne[] = {0xFF, 0xFF};
  EXPECT_EQ(decodeInt16LE(minusOne), -1);
  const unsigned char minimum[] = {0x00, 0x80};
  EXPECT_EQ(decodeInt16LE(minimum), -32768);
  const unsigned char word[] = {0x00, 0x00, 0x80, 0x3F};  // 1.0f little-endian
  EXPECT_EQ(decodeUInt32LE(word), 0x3F800000u);
  EXPECT_EQ(decodeUInt32BE(word), 0x0000803Fu);
}

TEST(SampleDecoding, ScalingRoundsTheFactorThenTheProductOnce) {
  // 0.1 as a float is 0.100000001490116...; 3 times it in double, then rounded once.
  const float scale = static_cast<float>(0.1);
  EXPECT_EQ(scaleSample(3, scale), static_cast<float>(3.0 * static_cast<double>(scale)));
  EXPECT_EQ(scaleSample(-1, 0.5f), -0.5f);
  EXPECT_EQ(scaleSample(32767, 1.0f), 32767.0f);
  // A product rounded twice (through float arithmetic with a double scale) would differ here.
  const float big = scaleSample(16777217.0, 1.0f);
  EXPECT_EQ(big, 16777216.0f);
}

}  // namespace
}  // namespace TamblixHq::NODRA::Drivers::RPC3
