#include "rpc3/format/RPC3SampleCoding.h"

#include <cstring>

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace {

// One loop per sample width and byte order, without branches inside, so that the compiler
// vectorises the load, the byte swap, the conversion and the multiplication.
template <std::size_t Size, bool BigEndian>
void decodeAll(const unsigned char* stored, std::size_t count, float scale, float* out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = decodeSample<Size, BigEndian>(stored + Size * i, scale);
}

}  // namespace

void decodeSamples(const unsigned char* stored, std::size_t count, eFrameDataType dataType,
                   eStorageFormat format, float scale, float* out) {
  const bool bigEndian = format == eBinaryIeeeBigEnd;
  if (dataType == eShortInteger) {
    bigEndian ? decodeAll<2, true>(stored, count, scale, out) : decodeAll<2, false>(stored, count, scale, out);
  } else {
    bigEndian ? decodeAll<4, true>(stored, count, scale, out) : decodeAll<4, false>(stored, count, scale, out);
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
