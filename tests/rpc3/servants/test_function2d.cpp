// What a channel answers as a two-dimensional function: its axes, the X range and the
// reduced views of its Y values that plots of millions of values are drawn from.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "tests/rpc3/servants/ServantTestSupport.h"

namespace nodra::test {
namespace {

// A channel function of a file, and the values a reader must see for it.
class Function2DTest : public ServantTest {
protected:
  IDL::Function2D_ptr mfChannel(const std::string& name, const Rpc3FileLayout& layout, int channel = 1) {
    IDL::File_var file = mfOpen(name, layout);
    IDL::BrowsableStructSeq_var children = file->get_all_children();
    return IDL::Function2D::_narrow(children[channel - 1].reference);
  }
  static std::vector<double> mfDoublesOf(const IDL::RealValueSeqUnion& values) {
    const IDL::DoubleSeq& seq = values.double_sequence();
    return std::vector<double>(seq.get_buffer(), seq.get_buffer() + seq.length());
  }
};

Rpc3FileLayout sawtooth(std::int64_t frames) {
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 1000;
  layout.mFrames = frames;
  layout.mSample = [](int, std::int64_t index) { return static_cast<double>((index * 37) % 20001 - 10000); };
  return layout;
}

TEST_F(Function2DTest, AChannelLongerThanOneReplyReducesToTheMinimumAndMaximumOfEachBlock) {
  // 3 million values: more than one reply of this process carries, read in bounded chunks.
  const Rpc3FileLayout layout = sawtooth(3000);
  IDL::Function2D_var channel = mfChannel("long.rsp", layout);
  const CORBA::ULong blockSize = 7001;  // not a divisor of the read chunk: blocks span reads
  IDL::DoubleSeq_var reduced = channel->get_reduced_y_data(1, 3000000, blockSize);
  const CORBA::ULong blocks = (3000000 + blockSize - 1) / blockSize;
  ASSERT_EQ(reduced->length(), 2 * blocks);
  for (CORBA::ULong b = 0; b < blocks; ++b) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::int64_t k = 1 + std::int64_t{b} * blockSize; k <= std::min<std::int64_t>(3000000, (b + 1) * std::int64_t{blockSize}); ++k) {
      const double v = expectedValue(layout, 1, k, 1.0);
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    ASSERT_EQ(reduced[2 * b], lo) << "block " << b;
    ASSERT_EQ(reduced[2 * b + 1], hi) << "block " << b;
  }
  // A window inside the channel, starting mid-frame, and one clipped at the end.
  reduced = channel->get_reduced_y_data(1500, 10, 4);
  ASSERT_EQ(reduced->length(), 6u);
  EXPECT_EQ(reduced[4], std::min(expectedValue(layout, 1, 1508, 1.0), expectedValue(layout, 1, 1509, 1.0)));
  reduced = channel->get_reduced_y_data(2999999, 100, 0);  // block size 0 reads as 1
  ASSERT_EQ(reduced->length(), 4u);
  EXPECT_EQ(reduced[2], expectedValue(layout, 1, 3000000, 1.0));
  reduced = channel->get_reduced_y_data(3000001, 10, 5);
  EXPECT_EQ(reduced->length(), 0u);
  // More blocks than one reply carries are refused, not built.
  EXPECT_THROW(IDL::DoubleSeq_var(channel->get_reduced_y_data(1, 3000000, 1)), IDL::DBAccessException);
}

TEST_F(Function2DTest, ReducedValuesTakeEveryStepthValueNearOrFarApart) {
  const Rpc3FileLayout layout = sawtooth(300);
  IDL::Function2D_var channel = mfChannel("steps.rsp", layout);
  for (CORBA::ULong step : {1u, 3u, 1000u, 65536u, 100000u}) {
    const CORBA::ULong start = 17, count = 299000;
    IDL::RealValueSeqUnion_var picked = channel->get_reduced_y_values(start, count, step);
    const std::vector<double> got = mfDoublesOf(picked.in());
    ASSERT_EQ(got.size(), (count + step - 1) / step) << "step " << step;
    for (std::size_t k = 0; k < got.size(); ++k) {
      ASSERT_EQ(got[k], expectedValue(layout, 1, start + static_cast<std::int64_t>(k) * step, 1.0))
          << "step " << step << " value " << k;
    }
  }
  IDL::RealValueSeqUnion_var none = channel->get_reduced_y_values(300001, 10, 2);
  EXPECT_TRUE(mfDoublesOf(none.in()).empty());
}

TEST_F(Function2DTest, NanSamplesAreLeftOutOfTheirBlocks) {
  Rpc3FileLayout layout;
  layout.mFloat = true;
  layout.mPtsPerFrame = 4;
  layout.mFrames = 2;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> samples = {nan, 2, -1, nan, nan, nan, nan, nan};
  layout.mSample = [samples](int, std::int64_t index) { return samples[static_cast<std::size_t>(index - 1)]; };
  IDL::Function2D_var channel = mfChannel("nan.rsp", layout);
  IDL::DoubleSeq_var reduced = channel->get_reduced_y_data(1, 8, 4);
  ASSERT_EQ(reduced->length(), 4u);
  EXPECT_EQ(reduced[0], -1.0);
  EXPECT_EQ(reduced[1], 2.0);
  EXPECT_TRUE(std::isnan(reduced[2]) && std::isnan(reduced[3]));
}

TEST_F(Function2DTest, AxesAndTheXRangeComeFromTheTimeBase) {
  Rpc3FileLayout layout = sawtooth(4);
  layout.mDeltaT = "0.25";
  IDL::Function2D_var channel = mfChannel("axes.rsp", layout);
  EXPECT_EQ(channel->get_number_of_axes(), 2);
  IDL::StringSeq_var ids = channel->get_axis_ids();
  ASSERT_EQ(ids->length(), 2u);
  EXPECT_STREQ(ids[0], "X");
  EXPECT_STREQ(ids[1], "Y");
  const IDL::MinMax range = channel->get_x_min_max();
  EXPECT_EQ(range.min, 0.0);
  EXPECT_EQ(range.max, 3999 * 0.25);
}

}  // namespace
}  // namespace nodra::test
