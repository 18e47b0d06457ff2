// How stored samples become values: byte order, decoding and scaling. Pure functions on bytes; no file access. The encodings: doc/rpc3-format.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rpc3/format/RPC3Encoding.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

// Stored 2- and 4-byte samples read in the named byte order.
inline std::int16_t decodeInt16LE(const unsigned char* b) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | (b[1] << 8)));
}
inline std::int16_t decodeInt16BE(const unsigned char* b) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((b[0] << 8) | b[1]));
}
inline std::uint32_t decodeUInt32LE(const unsigned char* b) {
  return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
         (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
inline std::uint32_t decodeUInt32BE(const unsigned char* b) {
  return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
         (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
}

// A double rounded to single precision as the hardware rounds it, also beyond the float
// range (where a plain conversion is undefined): values at or past the midpoint between the
// largest float and infinity become infinity, NaN stays NaN. Branch-free, so loops over it
// still vectorise.
inline float toFloatSaturating(double value) {
  constexpr double kInfinityEdge = 0x1.ffffffp127;  // largest float plus half its last place
  // Clamped to the edge, which itself rounds to infinity (ties to even); NaN passes through.
  const double clamped = value > kInfinityEdge ? kInfinityEdge : (value < -kInfinityEdge ? -kInfinityEdge : value);
  return static_cast<float>(clamped);
}

// A value scaled as the files define it: the scale factor is rounded to single precision,
// and the exact product is rounded once to single precision. A float multiplication is
// exactly that: a 16-bit integer or a float is exact as a float, and IEEE multiplication
// rounds the exact product once (to infinity beyond the float range). Single-precision
// arithmetic also lets the decode loops run eight values per instruction.
inline float scaleSample(float sample, float scale) { return sample * scale; }

// One stored sample, 2 bytes (a 16-bit integer) or 4 (a float) in the named byte order, as
// its scaled value. Inline and branch-free, for loops that decode as they read.
template <std::size_t Size, bool BigEndian>
inline float decodeSample(const unsigned char* stored, float scale) {
  static_assert(Size == 2 || Size == 4, "samples are 2 or 4 bytes");
  if constexpr (Size == 2) {
    return scaleSample(static_cast<float>(BigEndian ? decodeInt16BE(stored) : decodeInt16LE(stored)), scale);
  } else {
    const std::uint32_t bits = BigEndian ? decodeUInt32BE(stored) : decodeUInt32LE(stored);
    float sample;
    std::memcpy(&sample, &bits, sizeof sample);
    return scaleSample(sample, scale);
  }
}

// Decodes `count` stored samples, packed one after another as they stand in the file (2 or
// 4 bytes each, by the data type), scaled, into `out`.
void decodeSamples(const unsigned char* stored, std::size_t count, eFrameDataType dataType,
                   eStorageFormat format, float scale, float* out);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
