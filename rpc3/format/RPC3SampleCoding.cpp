#include "rpc3/format/RPC3SampleCoding.h"

#include <cstring>

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace {

// One loop per sample width and byte order, without branches inside, so that the compiler
// vectorises the load, the byte swap, the conversion and the multiplication.
template <bool BigEndian>
void decodeShorts(const tuFrameData* slots, std::size_t count, float scale, float* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::int16_t sample = BigEndian ? decodeInt16BE(slots[i].bytes) : decodeInt16LE(slots[i].bytes);
    out[i] = scaleSample(static_cast<float>(sample), scale);
  }
}

template <bool BigEndian>
void decodeFloats(const tuFrameData* slots, std::size_t count, float scale, float* out) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t bits = BigEndian ? decodeUInt32BE(slots[i].bytes) : decodeUInt32LE(slots[i].bytes);
    float sample;
    std::memcpy(&sample, &bits, sizeof sample);
    out[i] = scaleSample(sample, scale);
  }
}

}  // namespace

void decodeSamples(const tuFrameData* slots, std::size_t count, eFrameDataType dataType,
                   eStorageFormat format, float scale, float* out) {
  const bool bigEndian = format == eBinaryIeeeBigEnd;
  if (dataType == eShortInteger) {
    bigEndian ? decodeShorts<true>(slots, count, scale, out) : decodeShorts<false>(slots, count, scale, out);
  } else {
    bigEndian ? decodeFloats<true>(slots, count, scale, out) : decodeFloats<false>(slots, count, scale, out);
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
