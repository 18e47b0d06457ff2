#include "rpc3/format/RPC3SampleCoding.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

std::optional<std::string> checkLayout(const RPC3Layout& layout, std::int64_t channel) {
  if (layout.pointsPerFrame < 1) {
    return "PTS_PER_FRAME is " + std::to_string(layout.pointsPerFrame) + ", must be at least 1";
  }
  if (layout.pointsPerGroup < layout.pointsPerFrame) {
    return "PTS_PER_GROUP (" + std::to_string(layout.pointsPerGroup) +
           ") is smaller than PTS_PER_FRAME (" + std::to_string(layout.pointsPerFrame) + ")";
  }
  if (layout.headerBlocks < 0) {
    return "NUM_HEADER_BLOCKS is " + std::to_string(layout.headerBlocks);
  }
  if (channel < 1 || channel > layout.channels) {
    return "channel " + std::to_string(channel) + " is outside the file's channels 1 to " +
           std::to_string(layout.channels);
  }
  return std::nullopt;
}

std::optional<std::int64_t> frameBytePosition(const RPC3Layout& layout, std::int64_t channel,
                                              std::int64_t frame, int sampleSize) {
  const std::int64_t P = layout.pointsPerFrame;
  const std::int64_t G = layout.pointsPerGroup;
  const std::int64_t framesPerGroup = G / P;
  const std::int64_t group = (frame - 1) / framesPerGroup;
  const std::int64_t inGroup = (frame - 1) % framesPerGroup;
  // offset = group * G * C + inGroup * P + (c - 1) * G, in samples, then in bytes.
  std::int64_t groupSamples = 0, offset = 0, bytes = 0, position = 0;
  if (__builtin_mul_overflow(G, layout.channels, &groupSamples) ||
      __builtin_mul_overflow(group, groupSamples, &offset) ||
      __builtin_add_overflow(offset, inGroup * P + (channel - 1) * G, &offset) ||
      __builtin_mul_overflow(offset, static_cast<std::int64_t>(sampleSize), &bytes) ||
      __builtin_add_overflow(bytes, layout.headerBlocks * 512, &position)) {
    return std::nullopt;
  }
  return position;
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
