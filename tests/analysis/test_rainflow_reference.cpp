// The counter against the reference copy of its previous version: every figure bit for bit
// on random signals, many of whose values lie exactly on class boundaries.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "analysis/Rainflow.h"
#include "tests/analysis/RainflowReference.h"

namespace nodra::test {
namespace {

namespace Now = TamblixHq::NODRA::Analysis;
namespace Was = nodra::test::reference;

// Whole multiples of `step` from -k to k steps: with a class width that is a multiple of
// the step, many values, reversals and ranges fall exactly on boundaries.
std::vector<double> steps(unsigned seed, std::size_t length, double step, int k) {
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<int> level(-k, k);
  std::vector<double> values(length);
  for (double& v : values) v = step * level(random);
  return values;
}

std::vector<double> noise(unsigned seed, std::size_t length, double scale) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal(0, scale);
  std::vector<double> values(length);
  for (double& v : values) v = normal(random);
  return values;
}

struct Case {
  const char* mName;
  std::vector<double> mValues;
  unsigned mClasses;
  double mLo, mHi;
  std::vector<double> mSlopes;
  double mReferenceRange;
  double mGate;
};

TEST(RainflowReference, EveryFigureIsTheOneThePreviousCounterGave) {
  const Case cases[] = {
      {"steps on boundaries", steps(1, 40000, 0.5, 40), 64, -20, 20, {3, 5}, 1, 0},
      {"steps, odd classes", steps(2, 40000, 0.25, 400), 7, -100, 100, {1, 2, 8}, 0.3, 0},
      {"steps, narrow range", steps(3, 40000, 1, 50), 512, -10, 30, {3, 5}, 4, 0},
      {"tenths", steps(4, 40000, 0.1, 100), 10, -10, 10, {3, 5, 64, 65}, 1, 0},
      {"noise", noise(5, 40000, 100), 64, -300, 300, {2.5, 3}, 1, 0},
      {"noise, gated", noise(6, 40000, 100), 33, -400, 400, {3, 5}, 7, 20},
      {"steps, gated", steps(7, 40000, 0.5, 40), 16, -20, 20, {3, 5}, 1, 1.5},
      {"one class", steps(8, 5000, 1, 9), 1, -9, 9, {3}, 1, 0},
      {"empty range", steps(9, 5000, 1, 9), 8, 2, 2, {3}, 1, 0},
      {"offset range", steps(10, 40000, 3, 1000), 100, 1e6 - 3000, 1e6 + 3000, {3, 5}, 1, 0},
  };
  for (const Case& c : cases) {
    std::vector<double> values = c.mValues;
    if (c.mLo > 1e5) {
      for (double& v : values) v += 1e6;
    }
    for (Now::RainflowMethod method : {Now::RainflowMethod::kAstm, Now::RainflowMethod::kFourPoint}) {
      SCOPED_TRACE(std::string(c.mName) + (method == Now::RainflowMethod::kAstm ? ", astm" : ", four-point"));
      Now::RainflowSettings now;
      now.mMethod = method;
      now.mGate = c.mGate;
      now.mClasses = c.mClasses;
      now.mHasRange = true;
      now.mRangeMin = c.mLo;
      now.mRangeMax = c.mHi;
      now.mSlopes = c.mSlopes;
      now.mReferenceRange = c.mReferenceRange;
      now.mMaxCycles = Now::kMaxListedCycles;
      Was::RainflowSettings was;
      was.mMethod = method == Now::RainflowMethod::kAstm ? Was::RainflowMethod::kAstm : Was::RainflowMethod::kFourPoint;
      was.mGate = c.mGate;
      was.mClasses = c.mClasses;
      was.mHasRange = true;
      was.mRangeMin = c.mLo;
      was.mRangeMax = c.mHi;
      was.mSlopes = c.mSlopes;
      was.mReferenceRange = c.mReferenceRange;
      was.mMaxCycles = Now::kMaxListedCycles;
      const Now::RainflowResult a = Now::mfCountValues(values, now);
      const Was::RainflowResult b = Was::mfCountValues(values, was);
      EXPECT_EQ(a.mMatrix, b.mMatrix);
      EXPECT_EQ(a.mCrossings, b.mCrossings);
      EXPECT_EQ(a.mDamage, b.mDamage);
      EXPECT_EQ(a.mRangeCounts, b.mRangeCounts);
      EXPECT_EQ(a.mRangeMeanSums, b.mRangeMeanSums);
      EXPECT_EQ(a.mResidue, b.mResidue);
      EXPECT_EQ(a.mFullCycles, b.mFullCycles);
      EXPECT_EQ(a.mHalfCycles, b.mHalfCycles);
      EXPECT_EQ(a.mResidueCycles, b.mResidueCycles);
      EXPECT_EQ(a.mOutside, b.mOutside);
      EXPECT_EQ(a.mReversals, b.mReversals);
      ASSERT_EQ(a.mCycles.size(), b.mCycles.size());
      for (std::size_t i = 0; i < a.mCycles.size(); ++i) {
        EXPECT_TRUE(a.mCycles[i].mFrom == b.mCycles[i].mFrom && a.mCycles[i].mTo == b.mCycles[i].mTo &&
                    a.mCycles[i].mCount == b.mCycles[i].mCount);
      }
    }
  }
}

}  // namespace
}  // namespace nodra::test
