#include "rpc3/format/RPC3SampleCoding.h"

#include <cstring>

namespace TamblixHq::NODRA::Drivers::RPC3 {

void decodeSamples(const tuFrameData* slots, std::size_t count, eFrameDataType dataType,
                   eStorageFormat format, float scale, float* out) {
  if (dataType == eShortInteger) {
    for (std::size_t i = 0; i < count; ++i) {
      out[i] = scaleSample(reverseIfBigEndian(decodeInt16LE(slots[i].bytes), format), scale);
    }
    return;
  }
  for (std::size_t i = 0; i < count; ++i) {
    const auto bits = static_cast<std::uint32_t>(
        reverseIfBigEndian(static_cast<std::int32_t>(decodeUInt32LE(slots[i].bytes)), format));
    float sample;
    std::memcpy(&sample, &bits, sizeof sample);
    out[i] = scaleSample(sample, scale);
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
