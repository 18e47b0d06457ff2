// Sample decoding on byte literals alone: byte order, width and scaling.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
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

// The definition: the exact product (a double holds it) rounded once to single precision,
// saturating beyond the float range; compared bit for bit so that NaNs and signed zeros count.
std::uint32_t definedBits(double sample, float scale) {
  const float value = toFloatSaturating(sample * static_cast<double>(scale));
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

std::uint32_t bitsOf(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float floatOfBits(std::uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// The vectorised decode loops against the definition: every 16-bit sample in both byte
// orders under awkward scales, and float samples drawn from all bit patterns.
TEST(SampleDecoding, DecodeLoopsMatchTheExactProductRoundedOnce) {
  const std::vector<float> scales = {static_cast<float>(0.1), -1.0f / 3.0f, 1.0f, -0.0f, 7.0e-40f,
                                     std::numeric_limits<float>::max(), 1.0e35f,
                                     std::numeric_limits<float>::infinity(), std::nanf("")};
  std::vector<unsigned char> little(2 * 65536), big(2 * 65536);
  for (std::uint32_t u = 0; u < 65536; ++u) {
    little[2 * u] = big[2 * u + 1] = static_cast<unsigned char>(u);
    little[2 * u + 1] = big[2 * u] = static_cast<unsigned char>(u >> 8);
  }
  std::vector<float> fromLittle(65536), fromBig(65536);
  for (float scale : scales) {
    decodeSamples(little.data(), 65536, eShortInteger, eBinary, scale, fromLittle.data());
    decodeSamples(big.data(), 65536, eShortInteger, eBinaryIeeeBigEnd, scale, fromBig.data());
    for (std::uint32_t u = 0; u < 65536; ++u) {
      const double sample = static_cast<std::int16_t>(static_cast<std::uint16_t>(u));
      ASSERT_EQ(bitsOf(fromLittle[u]), definedBits(sample, scale)) << sample << " x " << scale;
      ASSERT_EQ(bitsOf(fromBig[u]), definedBits(sample, scale)) << sample << " x " << scale;
    }
  }

  std::mt19937 random(20261208);
  constexpr std::size_t kFloats = 1 << 16;
  std::vector<unsigned char> floatsLittle(4 * kFloats), floatsBig(4 * kFloats);
  std::vector<float> samples(kFloats);
  for (std::size_t i = 0; i < kFloats; ++i) {
    const std::uint32_t bits = random();
    samples[i] = floatOfBits(bits);
    for (int b = 0; b < 4; ++b) {
      floatsLittle[4 * i + b] = floatsBig[4 * i + 3 - b] = static_cast<unsigned char>(bits >> (8 * b));
    }
  }
  std::vector<float> outLittle(kFloats), outBig(kFloats);
  for (int round = 0; round < 16; ++round) {
    const float scale = round < static_cast<int>(scales.size()) ? scales[round] : floatOfBits(random());
    decodeSamples(floatsLittle.data(), kFloats, eFloatingPoint, eBinary, scale, outLittle.data());
    decodeSamples(floatsBig.data(), kFloats, eFloatingPoint, eBinaryIeeeBigEnd, scale, outBig.data());
    for (std::size_t i = 0; i < kFloats; ++i) {
      const std::uint32_t expected = definedBits(samples[i], scale);
      // NaN payloads are not part of the definition; any NaN is a NaN.
      if (std::isnan(floatOfBits(expected))) {
        ASSERT_TRUE(std::isnan(outLittle[i]) && std::isnan(outBig[i]));
        continue;
      }
      ASSERT_EQ(bitsOf(outLittle[i]), expected) << samples[i] << " x " << scale;
      ASSERT_EQ(bitsOf(outBig[i]), expected) << samples[i] << " x " << scale;
    }
  }
}

TEST(SampleDecoding, PackedSamplesDecodeByWidthAndByteOrder) {
  const std::vector<unsigned char> shorts = {0x01, 0x02, 0xFF, 0xFF, 0x00, 0x80};
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

  const std::vector<unsigned char> floats = {0x00, 0x00, 0x80, 0x3F, 0xC0, 0x00, 0x00, 0x00};
  decodeSamples(floats.data(), 1, eFloatingPoint, eBinary, 2.0f, out.data());
  EXPECT_EQ(out[0], 2.0f);
  decodeSamples(floats.data() + 4, 1, eFloatingPoint, eBinaryIeeeBigEnd, 1.0f, out.data());
  EXPECT_EQ(out[0], -2.0f);
  // Only the asked values are written.
  out.assign(3, 42.0f);
  decodeSamples(shorts.data(), 0, eShortInteger, eBinary, 1.0f, out.data());
  EXPECT_EQ(out, std::vector<float>(3, 42.0f));
}

}  // namespace
}  // namespace TamblixHq::NODRA::Drivers::RPC3
