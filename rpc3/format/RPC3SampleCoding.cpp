#include "rpc3/format/RPC3SampleCoding.h"

#include <cstring>

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace {

// One loop per sample width and byte order, without branches inside, so that the compiler
// vectorises the load, the byte swap, the conversion and the multiplication.
template <bool BigEndian>
void decodeShorts(const unsigned char* stored, std::size_t count, float scale, float* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::int16_t sample = BigEndian ? decodeInt16BE(stored + 2 * i) : decodeInt16LE(stored + 2 * i);
    out[i] = scaleSample(static_cast<float>(sample), scale);
  }
}

template <bool BigEndian>
void decodeFloats(const unsigned char* stored, std::size_t count, float scale, float* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t bits = BigEndian ? decodeUInt32BE(stored + 4 * i) : decodeUInt32LE(stored + 4 * i);
    float sample;
    std::memcpy(&sample, &bits, sizeof sample);
    out[i] = scaleSample(sample, scale);
  }
}

}  // namespace

void decodeSamples(const unsigned char* stored, std::size_t count, eFrameDataType dataType,
                   eStorageFormat format, float scale, float* out) {
  const bool bigEndian = format == eBinaryIeeeBigEnd;
  if (dataType == eShortInteger) {
    bigEndian ? decodeShorts<true>(stored, count, scale, out) : decodeShorts<false>(stored, count, scale, out);
  } else {
    bigEndian ? decodeFloats<true>(stored, count, scale, out) : decodeFloats<false>(stored, count, scale, out);
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
