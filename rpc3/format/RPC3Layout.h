// Where the samples of a channel lie: the sample layout a header describes, its checks,
// the byte position of a frame and the frames a chunk of values touches. Pure functions of
// numbers and of a parsed header; no file access. The layout: doc/rpc3-format.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/utility/CStringU.h"
#include "rpc3/format/CRPC3Header.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

// The sample layout of a file: B header blocks, C channels, P samples per frame, G samples
// per group of one channel, the sample width and the byte order.
struct RPC3Layout {
  std::int64_t headerBlocks = 0;
  std::int64_t headerRecords = 0;  // records the header counts; they must fit in B blocks
  std::int64_t channels = 0;
  std::int64_t pointsPerFrame = 0;
  std::int64_t pointsPerGroup = 0;
  eFrameDataType dataType = eShortInteger;
  eStorageFormat storageFormat = eBinary;

  int mfSampleSize() const { return dataType == eShortInteger ? 2 : 4; }
};

// The layout a header describes: "NUM_HEADER_BLOCKS", "CHANNELS", "PTS_PER_FRAME" and
// "PTS_PER_GROUP" as integers (absent or not a number gives 0), "DATA_TYPE" and "FORMAT"
// through the typed lookups. Nothing is checked here: see checkLayout.
RPC3Layout getLayout(const CRPC3Header& header);

// The scale factor of a channel: "SCALE.CHAN_" + the channel number text as given, as a
// double rounded to single precision (beyond the float range: infinity); absent gives 0.
float getChannelScale(const CRPC3Header& header, const Utility::CStringU& channelText);

// Values per channel: "FRAMES" x "PTS_PER_FRAME", exact; 0 when either is 0 or negative,
// UINT64_MAX when the product overflows. The interface counts in 32 bits: callers refuse
// counts beyond them rather than wrap.
std::uint64_t getNumberOfValues(const CRPC3Header& header);

// Why a layout cannot address channel c, or nullopt when it can: P >= 1, G >= P, B blocks
// that hold the records the header counts (else samples would be read from the header;
// the one record read after them may lie in the data) and
// 1 <= c <= C are needed for the frame arithmetic to address the channel's own samples.
std::optional<std::string> checkLayout(const RPC3Layout& layout, std::int64_t channel);

// Byte position of frame f (from 1) of channel c (from 1); nullopt when it does not fit in
// 63 bits. REQUIRES: checkLayout accepted c.
std::optional<std::int64_t> frameBytePosition(const RPC3Layout& layout, std::int64_t channel,
                                              std::int64_t frame);

// How many frames from `frame` up to `lastFrame` follow each other in the file, each
// starting where the one before ends: the rest of the group that holds `frame`, or all of
// them in a file of one channel whose groups hold whole frames.
// REQUIRES: checkLayout accepted the layout, 1 <= frame <= lastFrame.
std::int64_t contiguousFrames(const RPC3Layout& layout, std::int64_t frame, std::int64_t lastFrame);

// The frames that hold `count` values of a channel from value `first` (values count from
// 1; value k is sample (k - 1) mod P of frame ceil(k / P)), and which of their samples the
// chunk takes. Whole frames are read; the first and last may be taken in part.
struct RPC3ChunkWindow {
  std::int64_t pointsPerFrame = 1;
  std::int64_t firstFrame = 1;   // frame of the first value
  std::int64_t lastFrame = 0;    // frame of the last value; < firstFrame when empty
  std::int64_t firstOffset = 0;  // sample offset (from 0) of the first value in firstFrame
  std::int64_t lastOffset = 0;   // sample offset of the last value in lastFrame

  // Samples [mfBegin(f), mfEnd(f)) of frame f belong to the chunk.
  // REQUIRES: firstFrame <= f <= lastFrame.
  std::int64_t mfBegin(std::int64_t frame) const { return frame == firstFrame ? firstOffset : 0; }
  std::int64_t mfEnd(std::int64_t frame) const {
    return frame == lastFrame ? lastOffset + 1 : pointsPerFrame;
  }
};

// REQUIRES: pointsPerFrame >= 1 and first >= 1; a count of 0 gives an empty window.
RPC3ChunkWindow getChunkWindow(std::int64_t pointsPerFrame, std::int64_t first, std::int64_t count);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
