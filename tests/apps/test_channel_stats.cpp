// Channel statistics: the accumulator's sums, NaN and empty channels, and `nodra-browse
// stats` end to end against figures computed from the test writer's samples.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "clients/cpp/ChannelStats.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {
namespace {

using TamblixHq::NODRA::Client::ChannelStats;
using TamblixHq::NODRA::Client::CStatsAccumulator;
using Json = nlohmann::json;

ChannelStats statsOf(const std::vector<double>& values) {
  CStatsAccumulator stats;
  for (double value : values) stats.mpAdd(value);
  return stats.mfResult();
}

TEST(StatsAccumulator, SumsKeepTheLowBitsThatPlainAdditionLoses) {
  // Plain double addition gives 0 for the sum and so a mean of 0.
  const ChannelStats big = statsOf({1e16, 1, -1e16});
  EXPECT_EQ(big.mMean, 1.0 / 3);
  EXPECT_EQ(big.mMin, -1e16);
  EXPECT_EQ(big.mMax, 1e16);
  // A million times 0.1 on a large offset: the mean is the offset plus 0.1, to rounding.
  CStatsAccumulator many;
  for (int i = 0; i < 1000000; ++i) many.mpAdd(1e6 + 0.1);
  EXPECT_DOUBLE_EQ(many.mfResult().mMean, 1e6 + 0.1);
  const ChannelStats squares = statsOf({3, -4});
  EXPECT_EQ(squares.mMean, -0.5);
  EXPECT_EQ(squares.mRms, std::sqrt(12.5));
}

TEST(StatsAccumulator, NanValuesAreCountedAndLeftOutOfEveryFigure) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const ChannelStats some = statsOf({nan, 2, nan, -6});
  EXPECT_EQ(some.mCount, 4u);
  EXPECT_EQ(some.mNaN, 2u);
  EXPECT_EQ(some.mMin, -6);
  EXPECT_EQ(some.mMax, 2);
  EXPECT_EQ(some.mMean, -2);
  EXPECT_EQ(some.mRms, std::sqrt(20.0));
  for (const ChannelStats& none : {statsOf({nan, nan}), statsOf({})}) {
    EXPECT_TRUE(std::isnan(none.mMin) && std::isnan(none.mMax) && std::isnan(none.mMean) && std::isnan(none.mRms));
  }
  const ChannelStats infinite = statsOf({1, std::numeric_limits<double>::infinity()});
  EXPECT_EQ(infinite.mMax, std::numeric_limits<double>::infinity());
  EXPECT_EQ(infinite.mMean, std::numeric_limits<double>::infinity());
}

// Two channels of 3 x 65536 + 192 values, so that the reads cross chunk boundaries: whole
// numbers scaled by 0.5, and a sine with NaN at every 1000th value.
constexpr std::int64_t kValues = 3 * 65536 + 192;
Rpc3FileLayout statsLayout() {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mFloat = true;
  layout.mPtsPerFrame = 100;
  layout.mFrames = kValues / 100;
  layout.mChannelTexts = {{"Hub:force:+Z", "N", "0.5", "-16000", "16000"}, {"Body:acc", "g", "1", "-3", "3"}};
  layout.mSample = [](int channel, std::int64_t index) {
    if (channel == 1) return static_cast<double>((index * 7919) % 20001) - 10000;
    return index % 1000 == 0 ? std::numeric_limits<double>::quiet_NaN()
                             : static_cast<double>(static_cast<float>(std::sin(0.001 * index) * 2.5));
  };
  return layout;
}

TEST(BrowseStats, FiguresAreThoseOfTheWrittenValuesAsJsonAndTable) {
  ScratchDir dir;
  const Rpc3FileLayout layout = statsLayout();
  const std::string path = dir.mfWriteFile("stats.rsp", mfBuildRpc3File(layout));

  // Reference figures, plainly in long double.
  struct Expected {
    double min = INFINITY, max = -INFINITY;
    long double sum = 0, squares = 0;
    int nan = 0;
  } expected[2];
  const double scales[] = {0.5, 1};
  for (int c = 0; c < 2; ++c) {
    for (std::int64_t i = 1; i <= kValues; ++i) {
      const double v = static_cast<float>(static_cast<float>(layout.mSample(c + 1, i)) * scales[c]);
      if (std::isnan(v)) {
        ++expected[c].nan;
        continue;
      }
      expected[c].min = std::min(expected[c].min, v);
      expected[c].max = std::max(expected[c].max, v);
      expected[c].sum += v;
      expected[c].squares += static_cast<long double>(v) * v;
    }
  }

  const ProgramResult json = mfRunProgram({NODRA_BROWSE_PATH, "stats", path, "--channel", "2,1", "--json"});
  ASSERT_EQ(json.mStatus, 0) << json.mErr;
  const Json doc = Json::parse(json.mOut);
  ASSERT_EQ(doc.at("channels").size(), 2u);
  for (int row = 0; row < 2; ++row) {
    const int c = 1 - row;  // asked for as 2,1
    SCOPED_TRACE("channel " + std::to_string(c + 1));
    const Json& s = doc.at("channels")[row];
    const double used = static_cast<double>(kValues - expected[c].nan);
    EXPECT_EQ(s.at("number"), c + 1);
    EXPECT_EQ(s.at("count"), kValues);
    EXPECT_EQ(s.at("nan"), expected[c].nan);
    EXPECT_EQ(s.at("min").get<double>(), expected[c].min);
    EXPECT_EQ(s.at("max").get<double>(), expected[c].max);
    const double mean = static_cast<double>(expected[c].sum / used);
    const double rms = std::sqrt(static_cast<double>(expected[c].squares / used));
    EXPECT_NEAR(s.at("mean").get<double>(), mean, 1e-12 * std::max(1.0, std::fabs(mean)));
    EXPECT_NEAR(s.at("rms").get<double>(), rms, 1e-12 * rms);
  }
  EXPECT_EQ(doc.at("channels")[0].at("nan"), kValues / 1000);

  // The table: a header, then one row per channel in the file's order.
  const ProgramResult table = mfRunProgram({NODRA_BROWSE_PATH, "stats", path});
  ASSERT_EQ(table.mStatus, 0) << table.mErr;
  std::istringstream lines(table.mOut);
  std::string header, first, second, extra;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(header.substr(0, 3), "#  ");
  for (const char* column : {"description", "unit", "values", "NaN", "min", "max", "mean", "RMS"}) {
    EXPECT_NE(header.find(column), std::string::npos) << column;
  }
  EXPECT_EQ(first.rfind("1  Hub:force:+Z  N", 0), 0u) << first;
  EXPECT_NE(first.find(" -5000 "), std::string::npos) << first;
  EXPECT_NE(second.find(" " + std::to_string(kValues) + "  " + std::to_string(kValues / 1000) + " "),
            std::string::npos)
      << second;
}

TEST(BrowseStats, AChannelTheFileDoesNotHaveIsAUsageError) {
  ScratchDir dir;
  const std::string path = dir.mfWriteFile("stats.rsp", mfBuildRpc3File(statsLayout()));
  const ProgramResult run = mfRunProgram({NODRA_BROWSE_PATH, "stats", path, "--channel", "3"});
  EXPECT_EQ(run.mStatus, 2);
  EXPECT_NE(run.mErr.find("channel 3 does not exist (the file has 2 channels)"), std::string::npos) << run.mErr;
  EXPECT_TRUE(run.mOut.empty());
}

}  // namespace
}  // namespace nodra::test
