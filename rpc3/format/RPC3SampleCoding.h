// Pure functions of the RPC III sample layout and sample encoding: where a frame of a
// channel lies in the file, and how stored bytes become values. No file access; see
// doc/rpc3-format.md for the layout they implement.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace TamblixHq::NODRA::Drivers::RPC3 {

// The sample layout read from a header: B header blocks, C channels, P samples per frame,
// G samples per group of one channel.
struct RPC3Layout {
  std::int64_t headerBlocks = 0;
  std::int64_t channels = 0;
  std::int64_t pointsPerFrame = 0;
  std::int64_t pointsPerGroup = 0;
};

// Why a layout cannot address channel c, or nullopt when it can: P >= 1, G >= P, B >= 0 and
// 1 <= c <= C are needed for the frame arithmetic to address the channel's own samples.
std::optional<std::string> checkLayout(const RPC3Layout& layout, std::int64_t channel);

// Byte position of frame f (from 1) of channel c (from 1) for samples of `sampleSize`
// bytes; nullopt when it does not fit in 63 bits. REQUIRES: checkLayout accepted c.
std::optional<std::int64_t> frameBytePosition(const RPC3Layout& layout, std::int64_t channel,
                                              std::int64_t frame, int sampleSize);

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

// A value scaled as the files define it: the scale factor is rounded to single precision,
// and the exact product (a double holds it) is rounded once to single precision.
inline float scaleSample(double sample, float scale) {
  return static_cast<float>(sample * static_cast<double>(scale));
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
