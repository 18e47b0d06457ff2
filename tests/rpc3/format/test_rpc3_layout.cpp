// The sample layout: what a header describes, the checks, where frames lie and which frames
// and samples a chunk of values takes. Headers are read from memory.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/utility/CFileU.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/CMemoryByteSourceU.h"
#include "rpc3/format/RPC3Layout.h"
#include "rpc3/format/RPC3SampleCoding.h"
#include "tests/support/Rpc3Writer.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {
namespace {

RPC3Layout layout(std::int64_t B, std::int64_t C, std::int64_t P, std::int64_t G,
                  eFrameDataType type = eShortInteger) {
  RPC3Layout l;
  l.headerBlocks = B;
  l.channels = C;
  l.pointsPerFrame = P;
  l.pointsPerGroup = G;
  l.dataType = type;
  return l;
}

// A header parsed from the bytes of the given records.
std::unique_ptr<CRPC3Header> headerOf(const std::vector<std::pair<std::string, std::string>>& records) {
  nodra::test::Rpc3HeaderWriter writer;
  for (const auto& [keyword, value] : records) writer.mfAdd(keyword, value);
  Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(writer.mfGetBytes()));
  return std::make_unique<CRPC3Header>(file, "memory");
}

TEST(SampleLayout, HeaderKeywordsGiveTheLayoutScaleAndValueCount) {
  const auto header = headerOf({{"FORMAT", "binary_ieee_big_end"}, {"NUM_HEADER_BLOCKS", "3"},
                                {"NUM_PARAMS", "11"}, {"CHANNELS", "4"}, {"PTS_PER_FRAME", "256"},
                                {"PTS_PER_GROUP", " 1024"}, {"DATA_TYPE", "FLOATING_POINT"},
                                {"FRAMES", "10"}, {"SCALE.CHAN_2", "0.1"}, {"SCALE.CHAN_02", "7"}});
  const RPC3Layout l = getLayout(*header);
  EXPECT_EQ(l.headerBlocks, 3);
  EXPECT_EQ(l.channels, 4);
  EXPECT_EQ(l.pointsPerFrame, 256);
  EXPECT_EQ(l.pointsPerGroup, 1024);
  EXPECT_EQ(l.dataType, eFloatingPoint);
  EXPECT_EQ(l.mfSampleSize(), 4);
  EXPECT_EQ(l.storageFormat, eBinaryIeeeBigEnd);
  EXPECT_EQ(getNumberOfValues(*header), 2560u);
  // The channel text is appended as given: "2" and "02" are different keywords.
  EXPECT_EQ(getChannelScale(*header, "2"), static_cast<float>(0.1));
  EXPECT_EQ(getChannelScale(*header, "02"), 7.0f);
  EXPECT_EQ(getChannelScale(*header, "3"), 0.0f);

  // Absent keywords read as 0 and the defaults of the typed lookups.
  const auto bare = headerOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "3"}});
  const RPC3Layout empty = getLayout(*bare);
  EXPECT_EQ(empty.channels, 0);
  EXPECT_EQ(empty.pointsPerFrame, 0);
  EXPECT_EQ(empty.dataType, eShortInteger);
  EXPECT_EQ(empty.storageFormat, eBinary);
  EXPECT_EQ(getNumberOfValues(*bare), 0u);
  EXPECT_TRUE(checkLayout(empty, 1).has_value());

  // The count is exact beyond 32 bits (it used to wrap to the low 32 bits); a negative
  // factor gives no values.
  const auto count = [](const char* frames, const char* points) {
    return getNumberOfValues(*headerOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"},
                                        {"NUM_PARAMS", "5"}, {"FRAMES", frames},
                                        {"PTS_PER_FRAME", points}}));
  };
  EXPECT_EQ(count("65536", "65537"), 65536ull * 65537ull);
  EXPECT_EQ(count("4", "1073741824"), 1ull << 32);
  EXPECT_EQ(count("-4", "16"), 0u);
  EXPECT_EQ(count("2147483647", "2147483647"), 2147483647ull * 2147483647ull);
}

TEST(SampleLayout, ScalesBeyondTheFloatRangeSaturateToInfinity) {
  const auto header = headerOf({{"FORMAT", "BINARY"}, {"NUM_HEADER_BLOCKS", "1"}, {"NUM_PARAMS", "6"},
                                {"SCALE.CHAN_1", "1e39"}, {"SCALE.CHAN_2", "-1e300"},
                                {"SCALE.CHAN_3", "3.4028235e38"}});
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(getChannelScale(*header, "1"), inf);
  EXPECT_EQ(getChannelScale(*header, "2"), -inf);
  EXPECT_EQ(getChannelScale(*header, "3"), std::numeric_limits<float>::max());
  // A product beyond the range saturates as well; one just below the rounding edge does not.
  EXPECT_EQ(scaleSample(32767, std::numeric_limits<float>::max()), inf);
  EXPECT_EQ(scaleSample(-2, std::numeric_limits<float>::max()), -inf);
  EXPECT_EQ(toFloatSaturating(0x1.fffffefp127), std::numeric_limits<float>::max());
  EXPECT_EQ(toFloatSaturating(0x1.ffffffp127), inf);
  EXPECT_TRUE(std::isnan(toFloatSaturating(std::nan(""))));
}

TEST(SampleLayout, FramesLieGroupByGroupWithChannelsSideBySide) {
  const RPC3Layout l = layout(2, 3, 1024, 2048);
  // Frame 3 of channel 2: one whole group (2048 x 3), frame 0 of its group, after channel 1.
  EXPECT_EQ(frameBytePosition(l, 2, 3), 2 * 512 + 2 * (6144 + 2048));
  EXPECT_EQ(frameBytePosition(layout(2, 3, 1024, 2048, eFloatingPoint), 2, 3),
            2 * 512 + 4 * (6144 + 2048));
  EXPECT_EQ(frameBytePosition(l, 1, 1), 1024);
  EXPECT_EQ(frameBytePosition(l, 3, 2), 1024 + 2 * (1024 + 2 * 2048));
  // G not a multiple of P: the rest of a channel's group holds no frame.
  const RPC3Layout odd = layout(1, 2, 4, 10);
  EXPECT_EQ(frameBytePosition(odd, 1, 3), 512 + 2 * (20 + 0));
  EXPECT_EQ(frameBytePosition(odd, 2, 2), 512 + 2 * (4 + 10));
}

// A run of contiguous frames is exactly what frameBytePosition says: each frame of the run
// starts where the one before ends, and the frame after the run does not.
TEST(SampleLayout, ContiguousFramesAreTheRestOfTheGroup) {
  for (const RPC3Layout& l : {layout(1, 3, 4, 16), layout(1, 2, 4, 10), layout(1, 1, 8, 8), layout(1, 1, 4, 10),
                              layout(1, 4, 3, 12, eFloatingPoint)}) {
    const std::int64_t frameBytes = l.pointsPerFrame * l.mfSampleSize();
    for (std::int64_t channel = 1; channel <= l.channels; ++channel) {
      for (std::int64_t last = 1; last <= 13; ++last) {
        for (std::int64_t f = 1; f <= last;) {
          const std::int64_t run = contiguousFrames(l, f, last);
          ASSERT_GE(run, 1);
          ASSERT_LE(f + run - 1, last);
          for (std::int64_t k = 1; k < run; ++k) {
            EXPECT_EQ(*frameBytePosition(l, channel, f + k), *frameBytePosition(l, channel, f) + k * frameBytes);
          }
          if (f + run <= last) {
            EXPECT_NE(*frameBytePosition(l, channel, f + run), *frameBytePosition(l, channel, f) + run * frameBytes)
                << "the run from frame " << f << " stops early";
          }
          f += run;
        }
      }
    }
  }
}

TEST(SampleLayout, PositionsPastFourGiBAreExactAndOverflowIsReported) {
  const RPC3Layout l = layout(1, 16, 1024, 1024, eFloatingPoint);
  // Frame 300000 of channel 16: (299999 * 16 * 1024 + 15 * 1024) samples of 4 bytes.
  const std::int64_t expected = 512 + 4 * (299999LL * 16 * 1024 + 15 * 1024);
  ASSERT_GT(expected, std::int64_t{1} << 32);
  EXPECT_EQ(frameBytePosition(l, 16, 300000), expected);
  const std::int64_t huge = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(frameBytePosition(layout(huge, huge, 1, huge, eFloatingPoint), huge, huge), std::nullopt);
}

TEST(SampleLayout, LayoutsThatCannotAddressAChannelAreExplained) {
  EXPECT_EQ(checkLayout(layout(1, 3, 4, 8), 3), std::nullopt);
  EXPECT_NE(checkLayout(layout(1, 3, 0, 8), 1)->find("PTS_PER_FRAME is 0"), std::string::npos);
  EXPECT_NE(checkLayout(layout(1, 3, 8, 4), 1)->find("smaller than PTS_PER_FRAME"),
            std::string::npos);
  EXPECT_NE(checkLayout(layout(-1, 3, 4, 8), 1)->find("NUM_HEADER_BLOCKS"), std::string::npos);
  EXPECT_NE(checkLayout(layout(1, 3, 4, 8), 0)->find("channel 0"), std::string::npos);
  EXPECT_NE(checkLayout(layout(1, 3, 4, 8), 4)->find("channels 1 to 3"), std::string::npos);
}

TEST(SampleLayout, HeaderBlocksMustHoldTheCountedRecordsNotTheOneReadAfterThem) {
  struct Case {
    int blocks, params;
    const char* refusal;  // nullptr: accepted
  };
  const Case cases[] = {
      {1, 3, nullptr},   // padded: record 3 is the padding record
      {1, 4, nullptr},   // filled: record 4 is the first 128 bytes of the data
      {2, 8, nullptr},   // filled
      {2, 7, nullptr},   // padded
      {1, 0, nullptr},   // the three records read by position fit
      {1, 5, "NUM_HEADER_BLOCKS is 1, too few for the header's 5 records"},
      {2, 9, "NUM_HEADER_BLOCKS is 2, too few for the header's 9 records"},
      {0, 3, "NUM_HEADER_BLOCKS is 0, too few for the header's 3 records"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.blocks) + " blocks, NUM_PARAMS " + std::to_string(c.params));
    nodra::test::Rpc3HeaderWriter writer;
    writer.mfAdd("FORMAT", "BINARY").mfAdd("NUM_HEADER_BLOCKS", std::to_string(c.blocks));
    writer.mfAdd("NUM_PARAMS", std::to_string(c.params));
    for (int i = 3; i < c.params; ++i) writer.mfAdd("KEY_" + std::to_string(i), "x");
    nodra::test::Bytes bytes = writer.mfGetBytes(0, 0);
    bytes.resize(bytes.size() + 512, 0x7f);  // sample data after the records
    Utility::CFileU file(std::make_unique<Utility::CMemoryByteSourceU>(bytes));
    RPC3Layout l = getLayout(CRPC3Header(file, "memory"));
    l.channels = l.pointsPerFrame = l.pointsPerGroup = 1;
    const std::optional<std::string> refusal = checkLayout(l, 1);
    if (c.refusal == nullptr) {
      EXPECT_EQ(refusal, std::nullopt);
    } else {
      EXPECT_EQ(refusal, std::string(c.refusal));
    }
  }
}

// The (frame, first sample, end sample) triples a window takes, in order.
std::vector<std::array<std::int64_t, 3>> taken(const RPC3ChunkWindow& w) {
  std::vector<std::array<std::int64_t, 3>> out;
  for (std::int64_t f = w.firstFrame; f <= w.lastFrame; ++f) out.push_back({f, w.mfBegin(f), w.mfEnd(f)});
  return out;
}

TEST(ChunkWindow, ChunksTakeWholeFramesOrPartsAtEitherEnd) {
  using T = std::vector<std::array<std::int64_t, 3>>;
  // Whole first frame, whole first and second frames.
  EXPECT_EQ(taken(getChunkWindow(4, 1, 4)), (T{{1, 0, 4}}));
  EXPECT_EQ(taken(getChunkWindow(4, 1, 8)), (T{{1, 0, 4}, {2, 0, 4}}));
  // Starting and ending mid-frame, across a frame in between.
  EXPECT_EQ(taken(getChunkWindow(4, 3, 8)), (T{{1, 2, 4}, {2, 0, 4}, {3, 0, 2}}));
  // Inside one frame.
  EXPECT_EQ(taken(getChunkWindow(4, 6, 2)), (T{{2, 1, 3}}));
  // The last value of a channel of 10 frames, and one value per frame.
  EXPECT_EQ(taken(getChunkWindow(4, 40, 1)), (T{{10, 3, 4}}));
  EXPECT_EQ(taken(getChunkWindow(1, 5, 3)), (T{{5, 0, 1}, {6, 0, 1}, {7, 0, 1}}));
  // Nothing asked, nothing taken.
  EXPECT_TRUE(taken(getChunkWindow(4, 5, 0)).empty());
  // Values far past 32 bits keep their frames.
  const RPC3ChunkWindow far = getChunkWindow(1024, (std::int64_t{1} << 32) + 1, 1024);
  EXPECT_EQ(far.firstFrame, (std::int64_t{1} << 22) + 1);
  EXPECT_EQ(taken(far).size(), 1u);
}

TEST(ChunkWindow, EveryWindowTakesExactlyItsValuesInOrder) {
  for (std::int64_t P : {1, 3, 4, 7}) {
    for (std::int64_t first = 1; first <= 3 * P; ++first) {
      for (std::int64_t count = 1; count <= 3 * P; ++count) {
        std::int64_t next = first;  // the value the next taken sample must be
        for (const auto& [f, begin, end] : taken(getChunkWindow(P, first, count))) {
          for (std::int64_t s = begin; s < end; ++s, ++next) {
            ASSERT_EQ((f - 1) * P + s + 1, next) << "P " << P << " first " << first << " count " << count;
          }
        }
        ASSERT_EQ(next, first + count) << "P " << P << " first " << first << " count " << count;
      }
    }
  }
}

}  // namespace
}  // namespace TamblixHq::NODRA::Drivers::RPC3
