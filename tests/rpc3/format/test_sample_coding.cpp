// Sample decoding on byte literals alone: byte order, width and scaling.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "rpc3/format/RPC3SampleCoding.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {
namespace {

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

TEST(SampleDecoding, FrameSlotsDecodeByWidthAndByteOrder) {
  auto slot = [](std::vector<unsigned char> bytes) {
    tuFrameData d{};
    std::memcpy(d.bytes, bytes.data(), bytes.size());
    return d;
  };
  const std::vector<tuFrameData> shorts = {slot({0x01, 0x02}), slot({0xFF, 0xFF}), slot({0x00, 0x80})};
  std::vector<float> out(3);
  decodeSamples(shorts.data(), 3, eShortInteger, eBinaryIeeeLittleEnd, 0.5f, out.data());
  EXPECT_EQ(out, (std::vector<float>{256.5f, -0.5f, -16384.0f}));
  decodeSamples(shorts.data(), 3, eShortInteger, eBinaryIeeeBigEnd, 1.0f, out.data());
  EXPECT_EQ(out, (std::vector<float>{258.0f, -1.0f, 128.0f}));
  // Every format but the big-endian one reads little-endian.
  for (eStorageFormat format : {eAscii, eBinary, eBinaryIeeeLittleEnd}) {
    decodeSamples(shorts.data(), 1, eShortInteger, format, 1.0f, out.data());
    EXPECT_EQ(out[0], 513.0f);
  }

  const std::vector<tuFrameData> floats = {slot({0x00, 0x00, 0x80, 0x3F}), slot({0xC0, 0x00, 0x00, 0x00})};
  decodeSamples(floats.data(), 1, eFloatingPoint, eBinary, 2.0f, out.data());
  EXPECT_EQ(out[0], 2.0f);
  decodeSamples(floats.data() + 1, 1, eFloatingPoint, eBinaryIeeeBigEnd, 1.0f, out.data());
  EXPECT_EQ(out[0], -2.0f);
  // Only the asked slots are written.
  out.assign(3, 42.0f);
  decodeSamples(shorts.data(), 0, eShortInteger, eBinary, 1.0f, out.data());
  EXPECT_EQ(out, std::vector<float>(3, 42.0f));
}

}  // namespace
}  // namespace TamblixHq::NODRA::Drivers::RPC3
