// The counting library: the ASTM E1049-85 example, hand-built signals with known counts
// (as tables), the invariants of the counting on random signals, chunk independence, the
// classes, the damage, the caps and the combination of files and repetitions.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/Rainflow.h"

namespace nodra::test {
namespace {

using namespace TamblixHq::NODRA::Analysis;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

RainflowSettings settings(RainflowMethod method = RainflowMethod::kAstm, double gate = 0) {
  RainflowSettings s;
  s.mMethod = method;
  s.mGate = gate;
  return s;
}

// Counts by range, from the aggregated cycle list.
std::map<double, double> byRange(const RainflowResult& result) {
  std::map<double, double> counts;
  for (const RainflowCycle& c : result.mCycles) counts[std::fabs(c.mTo - c.mFrom)] += c.mCount;
  return counts;
}

double listTotal(const RainflowResult& result) {
  double total = 0;
  for (const RainflowCycle& c : result.mCycles) total += c.mCount;
  return total;
}

double sum(const std::vector<double>& values) {
  double total = 0;
  for (double v : values) total += v;
  return total;
}

TEST(Rainflow, TheAstmExampleGivesTheStandardsCounts) {
  const RainflowResult r = mfCountValues({-2, 1, -3, 5, -1, 3, -4, 4, -2}, settings());
  const std::map<double, double> expected{{3, 0.5}, {4, 1.5}, {6, 0.5}, {8, 1.0}, {9, 0.5}};
  EXPECT_EQ(byRange(r), expected);
  EXPECT_EQ(r.mFullCycles, 1.0);   // -1 to 3
  EXPECT_EQ(r.mHalfCycles, 3.0);   // six half cycles
  EXPECT_EQ(r.mResidueCycles, 1.5);  // 5, -4, 4, -2 left
  EXPECT_EQ(r.mResidue, (std::vector<double>{5, -4, 4, -2}));
  EXPECT_EQ(r.mReversals, 9u);
  EXPECT_EQ(r.mMin, -4);
  EXPECT_EQ(r.mMax, 5);
  // Each entry keeps its direction: the full cycle from -1 to 3, the half cycles as they ran.
  const std::vector<RainflowCycle> cycles{{-4, 4, 0.5}, {-3, 5, 0.5}, {-2, 1, 0.5}, {-1, 3, 1.0},
                                          {1, -3, 0.5}, {4, -2, 0.5}, {5, -4, 0.5}};
  EXPECT_EQ(r.mCycles, cycles);
}

// A signal and the counts by range it must give, per method.
struct KnownCase {
  const char* mName;
  std::vector<double> mValues;
  RainflowMethod mMethod;
  double mGate;
  std::map<double, double> mByRange;
  std::uint64_t mReversals;
};

const std::vector<KnownCase>& knownCases() {
  static const std::vector<KnownCase> cases{
      {"monotonic ramp: one half cycle", {0, 1, 2, 3, 4}, RainflowMethod::kAstm, 0, {{4, 0.5}}, 2},
      {"monotonic ramp, four-point: the residue closed once", {0, 1, 2, 3, 4}, RainflowMethod::kFourPoint, 0,
       {{4, 1.0}}, 2},
      {"plateaus are one point", {1, 1, 3, 3, 3, 0, 0, 2, 2}, RainflowMethod::kAstm, 0, {{2, 1.0}, {3, 0.5}}, 4},
      {"two equal ranges close each other", {0, 2, 0, 2, 0}, RainflowMethod::kAstm, 0, {{2, 2.0}}, 5},
      {"two equal ranges, four-point", {0, 2, 0, 2, 0}, RainflowMethod::kFourPoint, 0, {{2, 2.0}}, 5},
      {"a block repeated three times", {0, 4, 1, 3, 0, 0, 4, 1, 3, 0, 0, 4, 1, 3, 0}, RainflowMethod::kAstm, 0,
       {{2, 3.0}, {4, 3.0}}, 13},
      {"a block repeated three times, four-point", {0, 4, 1, 3, 0, 0, 4, 1, 3, 0, 0, 4, 1, 3, 0},
       RainflowMethod::kFourPoint, 0, {{2, 3.0}, {4, 3.0}}, 13},
      {"int16 extremes", {-32768, 32767, -32768, 32767}, RainflowMethod::kAstm, 0, {{65535, 1.5}}, 4},
      {"a constant: no cycle", {5, 5, 5}, RainflowMethod::kAstm, 0, {}, 1},
      {"nothing: no cycle", {}, RainflowMethod::kAstm, 0, {}, 0},
      {"NaN is left out", {0, kNaN, 4, kNaN, 0}, RainflowMethod::kAstm, 0, {{4, 1.0}}, 3},
      {"the gate drops a small reversal", {0, 5, 4, 6, 0}, RainflowMethod::kAstm, 2, {{6, 1.0}}, 3},
      {"a range equal to the gate is kept", {0, 5, 3, 6, 0}, RainflowMethod::kAstm, 2, {{2, 1.0}, {6, 1.0}}, 5},
      {"the end within the gate is dropped", {0, 10, 9}, RainflowMethod::kAstm, 2, {{10, 0.5}}, 2},
  };
  return cases;
}

TEST(Rainflow, HandBuiltSignalsGiveTheirKnownCounts) {
  for (const KnownCase& c : knownCases()) {
    SCOPED_TRACE(c.mName);
    const RainflowResult r = mfCountValues(c.mValues, settings(c.mMethod, c.mGate));
    EXPECT_EQ(byRange(r), c.mByRange);
    EXPECT_EQ(r.mReversals, c.mReversals);
    EXPECT_EQ(sum(r.mMatrix), listTotal(r));
  }
}

TEST(Rainflow, DamageIsTheSumOfCountsTimesRelativeRangeToTheSlope) {
  RainflowSettings s = settings();
  s.mSlopes = {3, 5, 2.5};
  RainflowResult r = mfCountValues({-32768, 32767, -32768, 32767}, s);
  ASSERT_EQ(r.mDamage.size(), 3u);
  EXPECT_EQ(r.mDamage[0], 1.5 * 65535.0 * 65535.0 * 65535.0);  // exact in a double
  EXPECT_DOUBLE_EQ(r.mDamage[1], 1.5 * std::pow(65535.0, 5));
  EXPECT_DOUBLE_EQ(r.mDamage[2], 1.5 * std::pow(65535.0, 2.5));
  // The ASTM example, S_ref 2 and N_ref 1000: D = sum n (S/2)^3 / 1000.
  s.mSlopes = {3};
  s.mReferenceRange = 2;
  s.mReferenceCycles = 1000;
  r = mfCountValues({-2, 1, -3, 5, -1, 3, -4, 4, -2}, s);
  const double expected = (0.5 * 27 + 1.5 * 64 + 0.5 * 216 + 1.0 * 512 + 0.5 * 729) / 8 / 1000;
  EXPECT_DOUBLE_EQ(r.mDamage[0], expected);
}

TEST(Rainflow, ClassesSpanTheRangeAndTheMaximumFallsInTheLastClass) {
  RainflowSettings s = settings();
  s.mClasses = 4;  // [-4, 5] in classes of 2.25
  const RainflowResult r = mfCountValues({-2, 1, -3, 5, -1, 3, -4, 4, -2}, s);
  EXPECT_EQ(r.mSettings.mRangeMin, -4);
  EXPECT_EQ(r.mSettings.mRangeMax, 5);
  EXPECT_EQ(r.mfClassWidth(), 2.25);
  ASSERT_EQ(r.mMatrix.size(), 16u);
  const auto cell = [&](unsigned from, unsigned to) { return r.mMatrix[from * 4 + to]; };
  EXPECT_EQ(cell(0, 3), 1.0);  // -4 to 4 and -3 to 5: the maximum falls in the last class
  EXPECT_EQ(cell(3, 0), 1.0);  // 5 to -4 and 4 to -2
  EXPECT_EQ(cell(1, 3), 1.0);  // -1 to 3
  EXPECT_EQ(sum(r.mMatrix), 4.0);
  // Ranges in classes of 2.25: 3 and 4 in class 1, 6 in class 2, 8 and 9 in class 3.
  EXPECT_EQ(r.mRangeCounts, (std::vector<double>{0, 2.0, 0.5, 1.5}));
  EXPECT_EQ(r.mfExceedance(), (std::vector<double>{4.0, 4.0, 2.0, 1.5}));
  // Per range class, the sum of count x mean: -3 to 5, -4 to 4 and 5 to -4 in the last.
  EXPECT_EQ(r.mRangeMeanSums[3], 0.5 * 1 + 0.5 * 0 + 0.5 * 0.5);
  // Upward crossings of the boundaries -4, -1.75, 0.5, 2.75, 5 by the rises -2..1, -3..5,
  // -1..3, -4..4: a < boundary <= b.
  EXPECT_EQ(r.mCrossings, (std::vector<double>{0, 3, 4, 3, 1}));
}

TEST(Rainflow, AGivenRangeClampsIntoTheEdgeClassesAndCountsWhatLiesOutside) {
  RainflowSettings s = settings();
  s.mClasses = 2;
  s.mHasRange = true;
  s.mRangeMin = 0;
  s.mRangeMax = 4;
  const RainflowResult r = mfCountValues({-2, 1, -3, 5, -1, 3, -4, 4, -2}, s);
  EXPECT_EQ(sum(r.mMatrix), 4.0);
  // Every cycle of the example has an end outside [0, 4].
  EXPECT_EQ(r.mOutside, 4.0);
  EXPECT_EQ(r.mRangeCounts[1], 4.0);  // every range is at least 2
}

// The turning points of `values` (finite only, no gate), plainly.
std::vector<double> reversalsOf(const std::vector<double>& values) {
  std::vector<double> points;
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    if (!points.empty() && points.back() == v) continue;
    if (points.size() >= 2 && (points.back() - points[points.size() - 2]) * (v - points.back()) > 0) {
      points.back() = v;  // still rising or falling
    } else {
      points.push_back(v);
    }
  }
  return points;
}

// ASTM E1049-85 5.4.4 on a whole list of reversals, as the standard writes it.
std::map<std::pair<double, double>, double> astmReference(const std::vector<double>& reversals) {
  std::map<std::pair<double, double>, double> cycles;
  std::vector<double> s;
  for (double v : reversals) {
    s.push_back(v);
    while (s.size() >= 3) {
      const std::size_t n = s.size();
      const double x = std::fabs(s[n - 1] - s[n - 2]), y = std::fabs(s[n - 2] - s[n - 3]);
      if (x < y) break;
      if (n == 3) {
        cycles[{s[0], s[1]}] += 0.5;
        s.erase(s.begin());
      } else {
        cycles[{s[n - 3], s[n - 2]}] += 1;
        s.erase(s.begin() + static_cast<long>(n) - 3, s.begin() + static_cast<long>(n) - 1);
      }
    }
  }
  for (std::size_t i = 0; i + 1 < s.size(); ++i) cycles[{s[i], s[i + 1]}] += 0.5;
  return cycles;
}

// Random signals of several kinds: whole numbers with plateaus, floats, narrow noise
// around a drift, and NaN sprinkled in.
std::vector<double> randomSignal(unsigned seed, std::size_t length) {
  std::mt19937_64 random(seed);
  std::vector<double> values(length);
  switch (seed % 4) {
    case 0: {
      std::uniform_int_distribution<int> level(-20, 20);
      for (double& v : values) v = level(random);
      break;
    }
    case 1: {
      std::normal_distribution<float> noise(0, 100);
      for (double& v : values) v = noise(random);
      break;
    }
    case 2: {
      std::normal_distribution<double> noise(0, 1);
      double drift = 0;
      for (std::size_t i = 0; i < length; ++i) values[i] = (drift += noise(random)) + 0.1 * noise(random);
      break;
    }
    default: {
      std::uniform_int_distribution<int> level(-32768, 32767);
      std::uniform_int_distribution<int> gap(0, 99);
      for (double& v : values) v = gap(random) == 0 ? kNaN : level(random);
      break;
    }
  }
  return values;
}

TEST(Rainflow, RandomSignalsAgreeWithTheStandardWrittenPlainly) {
  for (unsigned seed = 0; seed < 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<double> values = randomSignal(seed, 20000);
    const RainflowResult r = mfCountValues(values, settings());
    ASSERT_TRUE(r.mCyclesComplete);
    std::map<std::pair<double, double>, double> listed;
    for (const RainflowCycle& c : r.mCycles) listed[{c.mFrom, c.mTo}] = c.mCount;
    EXPECT_EQ(listed, astmReference(reversalsOf(values)));
    EXPECT_EQ(r.mReversals, reversalsOf(values).size());
  }
}

TEST(Rainflow, EveryReversalButTheResiduesClosesExactlyOneCycleAndTheTotalsAgree) {
  for (RainflowMethod method : {RainflowMethod::kAstm, RainflowMethod::kFourPoint}) {
    for (unsigned seed = 0; seed < 8; ++seed) {
      for (double gate : {0.0, 3.0}) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " gate " + std::to_string(gate) +
                     (method == RainflowMethod::kAstm ? " astm" : " four-point"));
        RainflowSettings s = settings(method, gate);
        s.mMaxCycles = kMaxListedCycles;
        const RainflowResult r = mfCountValues(randomSignal(seed, 30000), s);
        const double residue = static_cast<double>(r.mResidue.size());
        if (method == RainflowMethod::kAstm) {
          // Full cycles take two reversals, a half cycle at the start one, and the residue
          // keeps the rest (its half cycles join them pairwise).
          const double residueHalves = residue > 0 ? residue - 1 : 0;
          EXPECT_EQ(r.mResidueCycles, residueHalves / 2);
          const double startHalves = 2 * r.mHalfCycles - residueHalves;
          EXPECT_EQ(2 * r.mFullCycles + startHalves + residue, static_cast<double>(r.mReversals));
        } else {
          EXPECT_EQ(r.mHalfCycles, 0.0);
          EXPECT_EQ(2 * (r.mFullCycles - r.mResidueCycles) + residue, static_cast<double>(r.mReversals));
          // Closing the residue by repeating it leaves at most its largest cycle's points.
          EXPECT_LE(r.mResidueCycles, residue / 2);
        }
        const double total = r.mfTotalCycles();
        EXPECT_EQ(sum(r.mMatrix), total);
        EXPECT_EQ(listTotal(r), total);
        EXPECT_EQ(sum(r.mRangeCounts), total);
        EXPECT_EQ(r.mfExceedance().front(), total);
        EXPECT_EQ(r.mOutside, 0.0);
      }
    }
  }
}

TEST(Rainflow, LevelCrossingsAreTheRisesOfTheTurningPointsThroughEachBoundary) {
  for (unsigned seed = 0; seed < 4; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<double> values = randomSignal(seed, 5000);
    RainflowSettings s = settings();
    s.mClasses = 16;
    const RainflowResult r = mfCountValues(values, s);
    const std::vector<double> points = reversalsOf(values);
    for (unsigned j = 0; j <= 16; ++j) {
      const double level = r.mfBoundary(j);
      double rises = 0;
      for (std::size_t i = 1; i < points.size(); ++i) rises += points[i - 1] < level && level <= points[i];
      EXPECT_EQ(r.mCrossings[j], rises) << "boundary " << j << " at " << level;
    }
  }
}

TEST(Rainflow, CountingInChunksOfAnySizeEqualsCountingWhole) {
  for (RainflowMethod method : {RainflowMethod::kAstm, RainflowMethod::kFourPoint}) {
    for (unsigned seed = 0; seed < 4; ++seed) {
      const std::vector<double> values = randomSignal(seed, 200000);
      RainflowSettings s = settings(method, seed % 2 ? 0.5 : 0);
      const RainflowResult whole = mfCountValues(values, s);
      s = whole.mSettings;  // with the range it found
      for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{1024}, std::size_t{65536}}) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", chunks of " + std::to_string(chunk));
        CRainflowCounter counter(s);
        for (std::size_t at = 0; at < values.size(); at += chunk) {
          counter.mpAdd(values.data() + at, std::min(chunk, values.size() - at));
        }
        const RainflowResult chunked = counter.mfFinish();
        EXPECT_TRUE(chunked == whole);
        EXPECT_EQ(chunked.mDamage, whole.mDamage);
        EXPECT_EQ(chunked.mCycles.size(), whole.mCycles.size());
      }
    }
  }
}

TEST(Rainflow, FloatsCountAsTheDoublesTheyAre) {
  const std::vector<float> floats{-2.5f, 1.1f, -3, 5, -1, 3, -4, 4, -2};
  std::vector<double> doubles(floats.begin(), floats.end());
  const RainflowResult expected = mfCountValues(doubles, settings());
  CRainflowCounter counter(expected.mSettings);
  counter.mpAdd(floats.data(), floats.size());
  EXPECT_TRUE(counter.mfFinish() == expected);
}

TEST(Rainflow, RepetitionsAndFilesCombineByAddingTheirCounts) {
  const std::vector<double> a{0, 4, 1, 3, 0}, b{0, -2, 2, -1, 0};
  for (RainflowMethod method : {RainflowMethod::kAstm, RainflowMethod::kFourPoint}) {
    RainflowSettings s = settings(method);
    s.mClasses = 8;
    s.mHasRange = true;
    s.mRangeMin = -2;
    s.mRangeMax = 4;
    const RainflowResult ra = mfCountValues(a, s), rb = mfCountValues(b, s);
    RainflowResult total;
    mpCombine(total, ra, 100);
    mpCombine(total, rb, 20);
    EXPECT_EQ(total.mParts, 2u);
    EXPECT_EQ(total.mfTotalCycles(), 100 * ra.mfTotalCycles() + 20 * rb.mfTotalCycles());
    for (std::size_t i = 0; i < total.mMatrix.size(); ++i) {
      EXPECT_EQ(total.mMatrix[i], 100 * ra.mMatrix[i] + 20 * rb.mMatrix[i]);
    }
    for (std::size_t k = 0; k < total.mDamage.size(); ++k) {
      EXPECT_DOUBLE_EQ(total.mDamage[k], 100 * ra.mDamage[k] + 20 * rb.mDamage[k]);
    }
    EXPECT_EQ(listTotal(total), total.mfTotalCycles());
    EXPECT_EQ(total.mValues, 10u);  // values read, once each
    EXPECT_EQ(total.mMin, -2);
    EXPECT_EQ(total.mMax, 4);
    EXPECT_TRUE(total.mResidue.empty());
    // The block counted three times is the block repeated three times, for these blocks.
    RainflowResult thrice;
    mpCombine(thrice, ra, 3);
    std::vector<double> repeated;
    for (int i = 0; i < 3; ++i) repeated.insert(repeated.end(), a.begin(), a.end());
    EXPECT_EQ(byRange(thrice), byRange(mfCountValues(repeated, s)));
  }
  // Different classes do not combine.
  RainflowSettings other = settings();
  other.mClasses = 4;
  RainflowResult total = mfCountValues(a, settings());
  EXPECT_THROW(mpCombine(total, mfCountValues(a, other)), std::invalid_argument);
  EXPECT_THROW(mpCombine(total, total, 0), std::invalid_argument);
}

TEST(Rainflow, BeyondTheCapTheListIsDroppedAndEverythingElseStays) {
  const std::vector<double> values = randomSignal(1, 10000);
  RainflowSettings s = settings();
  const RainflowResult full = mfCountValues(values, s);
  ASSERT_TRUE(full.mCyclesComplete);
  s.mMaxCycles = full.mCycles.size() - 1;
  const RainflowResult capped = mfCountValues(values, s);
  EXPECT_FALSE(capped.mCyclesComplete);
  EXPECT_TRUE(capped.mCycles.empty());
  EXPECT_EQ(capped.mMatrix, full.mMatrix);
  EXPECT_EQ(capped.mDamage, full.mDamage);
  s.mMaxCycles = full.mCycles.size();
  EXPECT_TRUE(mfCountValues(values, s).mCyclesComplete);
}

TEST(Rainflow, AResidueBeyondItsBoundIsRefused) {
  // A decaying oscillation: every range is smaller than the one before, nothing closes.
  CRainflowCounter counter([] {
    RainflowSettings s;
    s.mHasRange = true;
    s.mRangeMin = -1e7;
    s.mRangeMax = 1e7;
    return s;
  }());
  std::vector<double> values(kMaxResidue + 10);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = (i % 2 ? -1.0 : 1.0) * (1e7 - static_cast<double>(i));
  EXPECT_THROW(counter.mpAdd(values.data(), values.size()), std::length_error);
}

TEST(Rainflow, SettingsOutsideTheirBoundsAreRefusedWithTheReason) {
  struct Row {
    void (*mChange)(RainflowSettings&);
    const char* mReason;
  };
  const Row rows[] = {
      {[](RainflowSettings& s) { s.mClasses = 0; }, "classes must be from 1 to 512, got 0"},
      {[](RainflowSettings& s) { s.mClasses = 513; }, "classes must be from 1 to 512"},
      {[](RainflowSettings& s) { s.mGate = -1; }, "the gate must be"},
      {[](RainflowSettings& s) { s.mGate = kNaN; }, "the gate must be"},
      {[](RainflowSettings& s) { s.mHasRange = true, s.mRangeMin = 2, s.mRangeMax = 1; }, "lies above its maximum"},
      {[](RainflowSettings& s) { s.mSlopes = {}; }, "give from 1 to 16 slopes"},
      {[](RainflowSettings& s) { s.mSlopes = {3, 0}; }, "a slope must be"},
      {[](RainflowSettings& s) { s.mReferenceRange = 0; }, "the reference range"},
      {[](RainflowSettings& s) { s.mReferenceCycles = -1; }, "the reference cycle count"},
      {[](RainflowSettings& s) { s.mMaxCycles = kMaxListedCycles + 1; }, "the cycle list is capped"},
  };
  EXPECT_EQ(mfSettingsProblem(RainflowSettings{}), "");
  for (const Row& row : rows) {
    RainflowSettings s;
    row.mChange(s);
    EXPECT_NE(mfSettingsProblem(s).find(row.mReason), std::string::npos) << mfSettingsProblem(s);
    s.mHasRange = true;
    if (s.mRangeMin <= s.mRangeMax) s.mRangeMax = s.mRangeMin + 1;
    EXPECT_THROW(CRainflowCounter{s}, std::invalid_argument);
  }
  EXPECT_THROW(CRainflowCounter{RainflowSettings{}}, std::invalid_argument);  // no range
}

// Every figure of two countings of the same values; the damage and the range means' sums
// within rounding, as joined segments add them in another order.
void expectSameCounting(const RainflowResult& a, const RainflowResult& b) {
  EXPECT_EQ(a.mMatrix, b.mMatrix);
  EXPECT_EQ(a.mCrossings, b.mCrossings);
  EXPECT_EQ(a.mRangeCounts, b.mRangeCounts);
  EXPECT_EQ(a.mResidue, b.mResidue);
  EXPECT_EQ(a.mCycles, b.mCycles);
  EXPECT_EQ(a.mCyclesComplete, b.mCyclesComplete);
  EXPECT_EQ(a.mValues, b.mValues);
  EXPECT_EQ(a.mNaN, b.mNaN);
  EXPECT_EQ(a.mReversals, b.mReversals);
  EXPECT_EQ(a.mFullCycles, b.mFullCycles);
  EXPECT_EQ(a.mHalfCycles, b.mHalfCycles);
  EXPECT_EQ(a.mResidueCycles, b.mResidueCycles);
  EXPECT_EQ(a.mOutside, b.mOutside);
  EXPECT_EQ(a.mMin, b.mMin);
  EXPECT_EQ(a.mMax, b.mMax);
  ASSERT_EQ(a.mDamage.size(), b.mDamage.size());
  for (std::size_t k = 0; k < a.mDamage.size(); ++k) EXPECT_NEAR(a.mDamage[k], b.mDamage[k], 1e-12 * b.mDamage[k]);
  for (std::size_t i = 0; i < a.mRangeMeanSums.size(); ++i) {
    EXPECT_NEAR(a.mRangeMeanSums[i], b.mRangeMeanSums[i], 1e-9 * (1 + std::fabs(b.mRangeMeanSums[i])));
  }
}

TEST(Rainflow, SegmentsCountedAloneAndJoinedGiveTheCountingOfTheWhole) {
  std::mt19937_64 random(29);
  for (RainflowMethod method : {RainflowMethod::kAstm, RainflowMethod::kFourPoint}) {
    for (unsigned seed = 0; seed < 40; ++seed) {
      std::vector<double> values = randomSignal(seed, 3000);
      if (seed % 8 == 7) values.insert(values.begin() + 100, 200, 5.0);  // a plateau across cuts
      RainflowSettings s = settings(method);
      s.mMaxCycles = kMaxListedCycles;
      s.mClasses = 1 + seed % 40;
      const RainflowResult whole = mfCountValues(values, s);
      s = whole.mSettings;
      // Cuts anywhere, a few of them close together (segments of a value or none).
      std::vector<std::size_t> cuts{0, values.size()};
      for (std::size_t n = 1 + seed % 6; n > 0; --n) {
        cuts.push_back(std::uniform_int_distribution<std::size_t>(1, values.size() - 1)(random));
        if (n % 3 == 0) cuts.push_back(std::min(cuts.back() + n / 3, values.size()));
      }
      std::sort(cuts.begin(), cuts.end());
      SCOPED_TRACE("seed " + std::to_string(seed) + (method == RainflowMethod::kAstm ? " astm" : " four-point") +
                   ", first cut " + std::to_string(cuts[1]));
      CRainflowCounter first(s);
      first.mpAdd(values.data(), cuts[1]);
      for (std::size_t i = 1; i + 1 < cuts.size(); ++i) {
        CRainflowCounter segment = CRainflowCounter::sfSegment(s);
        segment.mpAdd(values.data() + cuts[i], cuts[i + 1] - cuts[i]);
        first.mpJoin(segment);
      }
      expectSameCounting(first.mfFinish(), whole);
    }
  }
}

// Segment memory that counts its pieces: how many are out, and the most at once.
int gPiecesOut = 0, gMostPiecesOut = 0;
const SegmentMemory kCountedMemory{[](std::size_t count) {
                                     gMostPiecesOut = std::max(gMostPiecesOut, ++gPiecesOut);
                                     return new double[count];
                                   },
                                   [](double* values, std::size_t) {
                                     --gPiecesOut;
                                     delete[] values;
                                   }};

TEST(Rainflow, CountingOnSeveralThreadsGivesTheCountingOfTheWhole) {
  for (RainflowMethod method : {RainflowMethod::kAstm, RainflowMethod::kFourPoint}) {
    for (unsigned seed = 0; seed < 4; ++seed) {
      SCOPED_TRACE("seed " + std::to_string(seed));
      std::vector<double> values = randomSignal(seed, 50000);
      values.insert(values.begin(), 3000, kNaN);  // the start lies in a chunk's middle
      const RainflowResult whole = mfCountValues(values, settings(method));
      // The same segments on any number of threads: the same result, bit for bit.
      RainflowResult oneThread;
      for (unsigned threads : {1u, 2u, 3u, 8u}) {
        gMostPiecesOut = 0;
        RainflowResult result;
        {
          CParallelRainflowCounter counter(whole.mSettings, threads, 2991, kCountedMemory);
          for (std::size_t at = 0; at < values.size(); at += 4096) {
            counter.mpAdd(values.data() + at, std::min<std::size_t>(4096, values.size() - at));
          }
          result = counter.mfFinish();
        }
        // Memory is used segment after segment, and all of it given back.
        EXPECT_EQ(gPiecesOut, 0);
        EXPECT_LE(gMostPiecesOut, threads == 1 ? 0 : static_cast<int>(threads) + 1);
        expectSameCounting(result, whole);
        if (threads == 1) oneThread = result;
        EXPECT_TRUE(result == oneThread) << threads << " threads";
      }
    }
  }
}

TEST(Rainflow, SegmentsAreRefusedWhereTheirJoinWouldNotBeExact) {
  RainflowSettings s = settings(RainflowMethod::kAstm, 0.5);
  s.mHasRange = true, s.mRangeMax = 1;
  EXPECT_THROW(CRainflowCounter::sfSegment(s), std::invalid_argument);  // a gate
  s.mGate = 0;
  CRainflowCounter first(s), segment = CRainflowCounter::sfSegment(s), other = CRainflowCounter::sfSegment(s);
  EXPECT_THROW(segment.mpJoin(other), std::invalid_argument);  // onto a segment
  EXPECT_THROW(segment.mfFinish(), std::logic_error);
  RainflowSettings more = s;
  more.mClasses = 3;
  CRainflowCounter different = CRainflowCounter::sfSegment(more);
  EXPECT_THROW(first.mpJoin(different), std::invalid_argument);
}

}  // namespace
}  // namespace nodra::test
