#include "rpc3/format/RPC3Layout.h"

#include <algorithm>

#include "rpc3/format/RPC3SampleCoding.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace {

std::int64_t integerOf(const CRPC3Header& header, const char* keyword) {
  return header.mfGetKeywordValue(Utility::CStringU(keyword)).mfGetLong();
}

}  // namespace

RPC3Layout getLayout(const CRPC3Header& header) {
  RPC3Layout layout;
  layout.headerBlocks = integerOf(header, "NUM_HEADER_BLOCKS");
  layout.headerRecords = header.mfGetCountedRecords();
  layout.channels = integerOf(header, "CHANNELS");
  layout.pointsPerFrame = integerOf(header, "PTS_PER_FRAME");
  layout.pointsPerGroup = integerOf(header, "PTS_PER_GROUP");
  layout.dataType = header.mfGetDataType();
  layout.storageFormat = header.mfGetStorageFormat();
  return layout;
}

float getChannelScale(const CRPC3Header& header, const Utility::CStringU& channelText) {
  Utility::CStringU keyword("SCALE.CHAN_");
  keyword.mfAddString(channelText);
  return toFloatSaturating(header.mfGetKeywordValue(keyword).mfGetDouble());
}

std::uint64_t getNumberOfValues(const CRPC3Header& header) {
  const std::int64_t frames = integerOf(header, "FRAMES");
  const std::int64_t points = integerOf(header, "PTS_PER_FRAME");
  if (frames <= 0 || points <= 0) return 0;
  std::int64_t values = 0;
  if (__builtin_mul_overflow(frames, points, &values)) return UINT64_MAX;
  return static_cast<std::uint64_t>(values);
}

std::optional<std::string> checkLayout(const RPC3Layout& layout, std::int64_t channel) {
  if (layout.pointsPerFrame < 1) {
    return "PTS_PER_FRAME is " + std::to_string(layout.pointsPerFrame) + ", must be at least 1";
  }
  if (layout.pointsPerGroup < layout.pointsPerFrame) {
    return "PTS_PER_GROUP (" + std::to_string(layout.pointsPerGroup) +
           ") is smaller than PTS_PER_FRAME (" + std::to_string(layout.pointsPerFrame) + ")";
  }
  // Records are 128 bytes, blocks 512: B blocks hold 4 B records.
  if (layout.headerBlocks < 0 || layout.headerBlocks < (layout.headerRecords + 3) / 4) {
    return "NUM_HEADER_BLOCKS is " + std::to_string(layout.headerBlocks) + ", too few for the header's " +
           std::to_string(layout.headerRecords) + " records";
  }
  if (channel < 1 || channel > layout.channels) {
    return "channel " + std::to_string(channel) + " is outside the file's channels 1 to " +
           std::to_string(layout.channels);
  }
  return std::nullopt;
}

std::optional<std::int64_t> frameBytePosition(const RPC3Layout& layout, std::int64_t channel,
                                              std::int64_t frame) {
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
      __builtin_mul_overflow(offset, static_cast<std::int64_t>(layout.mfSampleSize()), &bytes) ||
      __builtin_mul_overflow(layout.headerBlocks, std::int64_t{512}, &position) ||
      __builtin_add_overflow(bytes, position, &position)) {
    return std::nullopt;
  }
  return position;
}

std::int64_t contiguousFrames(const RPC3Layout& layout, std::int64_t frame, std::int64_t lastFrame) {
  // A file of one channel whose groups hold whole frames is one run.
  if (layout.channels == 1 && layout.pointsPerGroup % layout.pointsPerFrame == 0) return lastFrame - frame + 1;
  const std::int64_t framesPerGroup = layout.pointsPerGroup / layout.pointsPerFrame;
  const std::int64_t restOfGroup = framesPerGroup - (frame - 1) % framesPerGroup;
  return std::min(restOfGroup, lastFrame - frame + 1);
}

RPC3ChunkWindow getChunkWindow(std::int64_t pointsPerFrame, std::int64_t first, std::int64_t count) {
  RPC3ChunkWindow window;
  const std::int64_t P = pointsPerFrame;
  window.pointsPerFrame = P;
  window.firstFrame = (first - 1) / P + 1;
  window.firstOffset = (first - 1) % P;
  if (count < 1) {
    window.lastFrame = window.firstFrame - 1;
    return window;
  }
  const std::int64_t last = first + count - 1;
  window.lastFrame = (last - 1) / P + 1;
  window.lastOffset = (last - 1) % P;
  return window;
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
