#include "tests/analysis/RainflowReference.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace nodra::test::reference {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string text(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", value);
  return buffer;
}

// -0 and +0 are one value: one key.
double normalized(double value) { return value == 0 ? 0.0 : value; }

struct PairHash {
  std::size_t operator()(const std::pair<double, double>& key) const {
    std::uint64_t a = 0, b = 0;
    std::memcpy(&a, &key.first, sizeof a);
    std::memcpy(&b, &key.second, sizeof b);
    std::uint64_t h = a * 0x9E3779B97F4A7C15ull;
    h ^= b + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2);
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
};

// x^k for a whole k from 1 to 64 by squaring; any other k through pow.
double power(double x, double k, int whole) {
  if (whole <= 0) return std::pow(x, k);
  double result = 1, base = x;
  for (int n = whole; n > 0; n >>= 1) {
    if (n & 1) result *= base;
    base *= base;
  }
  return result;
}

// Turning points of a sequence, one value at a time: equal consecutive values are one
// point, the first value is a reversal, and with a gate a reversal whose range to the
// previous kept reversal is below it is dropped. The last candidate is the last reversal.
class CTurningPoints {
public:
  explicit CTurningPoints(double gate) : mGate(gate) {}

  template <typename Emit>
  void mpAdd(double x, Emit&& emit) {
    switch (mDirection) {
      case 1:
        if (x >= mCandidate) {
          mCandidate = x;
        } else if (mCandidate - x >= mGate) {
          emit(mCandidate);
          mLast = mCandidate;
          mCandidate = x;
          mDirection = -1;
        }
        return;
      case -1:
        if (x <= mCandidate) {
          mCandidate = x;
        } else if (x - mCandidate >= mGate) {
          emit(mCandidate);
          mLast = mCandidate;
          mCandidate = x;
          mDirection = 1;
        }
        return;
      default:
        if (!mStarted) {
          mStarted = true;
          mLast = mCandidate = x;
          emit(x);
        } else if (x != mLast && std::fabs(x - mLast) >= mGate) {
          mDirection = x > mLast ? 1 : -1;
          mCandidate = x;
        }
        return;
    }
  }

  template <typename Emit>
  void mpFinish(Emit&& emit) {
    if (mDirection != 0) emit(mCandidate);
    mDirection = 0;
  }

private:
  double mGate;
  bool mStarted = false;
  int mDirection = 0;  // of the candidate from the last kept reversal; 0: none yet
  double mLast = 0;
  double mCandidate = 0;
};

// The four-point rule on the top of `stack` after a push: while the inner range of the
// last four points is within both outer ranges, it is a full cycle and its points go.
template <typename Cycle>
void reduceFourPoint(std::vector<double>& s, Cycle&& cycle) {
  for (std::size_t n = s.size(); n >= 4; n = s.size()) {
    const double a = s[n - 4], b = s[n - 3], c = s[n - 2], d = s[n - 1];
    const double inner = std::fabs(c - b);
    if (inner > std::fabs(b - a) || inner > std::fabs(d - c)) return;
    cycle(b, c);
    s[n - 3] = d;
    s.resize(n - 2);
  }
}

void checkStack(const std::vector<double>& stack) {
  if (stack.size() > kMaxResidue) {
    throw std::length_error("the rainflow residue exceeds " + std::to_string(kMaxResidue) +
                            " reversals (a history whose ranges keep shrinking); set a gate");
  }
}

bool sameSettings(const RainflowSettings& a, const RainflowSettings& b) {
  return a.mMethod == b.mMethod && a.mGate == b.mGate && a.mClasses == b.mClasses && a.mHasRange == b.mHasRange &&
         a.mRangeMin == b.mRangeMin && a.mRangeMax == b.mRangeMax && a.mSlopes == b.mSlopes &&
         a.mReferenceRange == b.mReferenceRange && a.mReferenceCycles == b.mReferenceCycles &&
         a.mMaxCycles == b.mMaxCycles;
}

bool sameNumber(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

std::string mfSettingsProblem(const RainflowSettings& s) {
  if (s.mClasses < 1 || s.mClasses > kMaxClasses) {
    return "classes must be from 1 to " + std::to_string(kMaxClasses) + ", got " + std::to_string(s.mClasses);
  }
  if (!std::isfinite(s.mGate) || s.mGate < 0) return "the gate must be a finite number of at least 0, got " + text(s.mGate);
  if (s.mHasRange) {
    if (!std::isfinite(s.mRangeMin) || !std::isfinite(s.mRangeMax)) return "the class range must be finite";
    if (s.mRangeMin > s.mRangeMax) {
      return "the class range's minimum " + text(s.mRangeMin) + " lies above its maximum " + text(s.mRangeMax);
    }
    if (!std::isfinite(s.mRangeMax - s.mRangeMin)) return "the class range is wider than a double holds";
  }
  if (s.mSlopes.empty() || s.mSlopes.size() > kMaxSlopes) {
    return "give from 1 to " + std::to_string(kMaxSlopes) + " slopes, got " + std::to_string(s.mSlopes.size());
  }
  for (double k : s.mSlopes) {
    if (!std::isfinite(k) || k <= 0) return "a slope must be a finite number above 0, got " + text(k);
  }
  if (!std::isfinite(s.mReferenceRange) || s.mReferenceRange <= 0) {
    return "the reference range must be a finite number above 0, got " + text(s.mReferenceRange);
  }
  if (!std::isfinite(s.mReferenceCycles) || s.mReferenceCycles < 0) {
    return "the reference cycle count must be a finite number of at least 0, got " + text(s.mReferenceCycles);
  }
  if (s.mMaxCycles > kMaxListedCycles) {
    return "the cycle list is capped at most at " + std::to_string(kMaxListedCycles) + " entries, got " +
           std::to_string(s.mMaxCycles);
  }
  return "";
}

RainflowResult::RainflowResult() : mMin(kNaN), mMax(kNaN) {}

double RainflowResult::mfClassWidth() const {
  return mSettings.mClasses == 0 ? 0 : (mSettings.mRangeMax - mSettings.mRangeMin) / mSettings.mClasses;
}

double RainflowResult::mfBoundary(unsigned i) const {
  return i >= mSettings.mClasses ? mSettings.mRangeMax : mSettings.mRangeMin + i * mfClassWidth();
}

std::vector<double> RainflowResult::mfExceedance() const {
  std::vector<double> exceedance(mRangeCounts.size());
  double sum = 0;
  for (std::size_t i = mRangeCounts.size(); i-- > 0;) exceedance[i] = sum += mRangeCounts[i];
  return exceedance;
}

bool RainflowResult::operator==(const RainflowResult& o) const {
  return sameSettings(mSettings, o.mSettings) && mValues == o.mValues && mNaN == o.mNaN &&
         mInfinite == o.mInfinite && mReversals == o.mReversals && sameNumber(mMin, o.mMin) &&
         sameNumber(mMax, o.mMax) && mFullCycles == o.mFullCycles && mHalfCycles == o.mHalfCycles &&
         mResidueCycles == o.mResidueCycles && mOutside == o.mOutside && mMatrix == o.mMatrix &&
         mRangeCounts == o.mRangeCounts && mRangeMeanSums == o.mRangeMeanSums && mCrossings == o.mCrossings &&
         mDamage == o.mDamage && mCyclesComplete == o.mCyclesComplete && mCycles == o.mCycles &&
         mResidue == o.mResidue && mParts == o.mParts;
}

// Everything a counting keeps between chunks.
class CRainflowCounter::CState {
public:
  explicit CState(const RainflowSettings& settings)
      : mSettings(settings),
        mN(settings.mClasses),
        mLo(settings.mRangeMin),
        mHi(settings.mRangeMax),
        mWidth((settings.mRangeMax - settings.mRangeMin) / settings.mClasses),
        mInverseWidth(mWidth > 0 ? 1 / mWidth : 0),
        mTurning(settings.mGate),
        mFourPoint(settings.mMethod == RainflowMethod::kFourPoint) {
    mResult.mSettings = settings;
    mResult.mMatrix.assign(std::size_t{mN} * mN, 0.0);
    mResult.mRangeCounts.assign(mN, 0.0);
    mResult.mRangeMeanSums.assign(mN, 0.0);
    mCrossingSteps.assign(mN + 2, 0.0);
    mResult.mDamage.assign(settings.mSlopes.size(), 0.0);
    for (double k : settings.mSlopes) {
      mWhole.push_back(k == std::floor(k) && k >= 1 && k <= 64 ? static_cast<int>(k) : 0);
    }
  }

  template <typename T>
  void mpAdd(const T* values, std::size_t count) {
    if (mFinished) throw std::logic_error("CRainflowCounter: values added after mfFinish");
    auto reversal = [this](double v) { mpReversal(v); };
    for (std::size_t i = 0; i < count; ++i) {
      const double x = static_cast<double>(values[i]);
      if (!std::isfinite(x)) {
        ++(std::isnan(x) ? mResult.mNaN : mResult.mInfinite);
        continue;
      }
      if (x < mMin) mMin = x;
      if (x > mMax) mMax = x;
      ++mFinite;
      mTurning.mpAdd(x, reversal);
    }
    mResult.mValues += count;
  }

  RainflowResult mfFinish() {
    if (mFinished) throw std::logic_error("CRainflowCounter: mfFinish called twice");
    mFinished = true;
    mTurning.mpFinish([this](double v) { mpReversal(v); });
    mResult.mResidue = mStack;
    if (!mFourPoint) {
      for (std::size_t i = 0; i + 1 < mStack.size(); ++i) {
        mpCycle(mStack[i], mStack[i + 1], 0.5, true);
        mResult.mResidueCycles += 0.5;
      }
    } else {
      // The residue followed by itself once, through the same turning points and the
      // four-point rule: what closes are full cycles; what remains is discarded.
      CTurningPoints turning(mSettings.mGate);
      std::vector<double> stack;
      const auto push = [&](double v) {
        stack.push_back(v);
        reduceFourPoint(stack, [&](double from, double to) {
          mpCycle(from, to, 1, false);
          mResult.mResidueCycles += 1;
        });
      };
      for (int pass = 0; pass < 2; ++pass) {
        for (double v : mStack) turning.mpAdd(v, push);
      }
      turning.mpFinish(push);
    }
    double steps = 0;
    mResult.mCrossings.assign(mN + 1, 0.0);
    for (unsigned j = 0; j <= mN; ++j) mResult.mCrossings[j] = steps += mCrossingSteps[j];
    if (mSettings.mReferenceCycles > 0) {
      for (double& d : mResult.mDamage) d /= mSettings.mReferenceCycles;
    }
    if (mResult.mCyclesComplete) {
      mResult.mCycles.reserve(mCycles.size());
      for (const auto& [key, count] : mCycles) mResult.mCycles.push_back({key.first, key.second, count});
      std::sort(mResult.mCycles.begin(), mResult.mCycles.end(), [](const RainflowCycle& a, const RainflowCycle& b) {
        return a.mFrom < b.mFrom || (a.mFrom == b.mFrom && a.mTo < b.mTo);
      });
    }
    if (mFinite > 0) {
      mResult.mMin = mMin;
      mResult.mMax = mMax;
    }
    mResult.mParts = 1;
    return std::move(mResult);
  }

private:
  unsigned mfClassOf(double v) const {
    if (!(mWidth > 0)) return 0;
    const double c = std::floor((v - mLo) / mWidth);
    if (!(c >= 0)) return 0;
    return c >= mN ? mN - 1 : static_cast<unsigned>(c);
  }
  double mfBoundary(long j) const { return j >= static_cast<long>(mN) ? mHi : mLo + static_cast<double>(j) * mWidth; }

  // A rise from a to b crosses the boundaries j with a < boundary(j) <= b.
  void mpRise(double a, double b) {
    const long n = mN;
    long first, last;
    if (!(mWidth > 0)) {
      first = a < mLo ? 0 : n + 1;
      last = b >= mLo ? n : -1;
    } else {
      // A first guess by the reciprocal, corrected against the boundaries themselves.
      const double fa = std::floor((a - mLo) * mInverseWidth) + 1, fb = std::floor((b - mLo) * mInverseWidth);
      first = fa < 0 ? 0 : fa > n + 1 ? n + 1 : static_cast<long>(fa);
      last = fb < -1 ? -1 : fb > n ? n : static_cast<long>(fb);
      while (first > 0 && mfBoundary(first - 1) > a) --first;
      while (first <= n && mfBoundary(first) <= a) ++first;
      while (last < n && mfBoundary(last + 1) <= b) ++last;
      while (last >= 0 && mfBoundary(last) > b) --last;
    }
    if (first > last) return;
    mCrossingSteps[static_cast<std::size_t>(first)] += 1;
    mCrossingSteps[static_cast<std::size_t>(last + 1)] -= 1;
  }

  void mpReversal(double v) {
    ++mResult.mReversals;
    if (mHasPrevious && v > mPrevious) mpRise(mPrevious, v);
    mPrevious = v;
    mHasPrevious = true;
    std::vector<double>& s = mStack;
    s.push_back(v);
    if (mFourPoint) {
      reduceFourPoint(s, [this](double from, double to) { mpCycle(from, to, 1, false); });
    } else {
      // ASTM E1049-85 5.4.4: X the newest range, Y the one before; X >= Y closes Y, a half
      // cycle when Y holds the starting point (the bottom of the stack).
      for (std::size_t n = s.size(); n >= 3; n = s.size()) {
        const double x = std::fabs(s[n - 1] - s[n - 2]), y = std::fabs(s[n - 2] - s[n - 3]);
        if (x < y) break;
        if (n == 3) {
          mpCycle(s[0], s[1], 0.5, true);
          s.erase(s.begin());
        } else {
          mpCycle(s[n - 3], s[n - 2], 1, false);
          s[n - 3] = s[n - 1];
          s.resize(n - 2);
        }
      }
    }
    checkStack(s);
  }

  void mpCycle(double from, double to, double count, bool half) {
    RainflowResult& r = mResult;
    (half ? r.mHalfCycles : r.mFullCycles) += count;
    const double range = std::fabs(to - from), mean = (from + to) / 2;
    r.mMatrix[std::size_t{mfClassOf(from)} * mN + mfClassOf(to)] += count;
    if (from < mLo || from > mHi || to < mLo || to > mHi) r.mOutside += count;
    unsigned rc = 0;
    if (mWidth > 0) {
      const double c = std::floor(range / mWidth);
      rc = c >= mN ? mN - 1 : static_cast<unsigned>(c);
    }
    r.mRangeCounts[rc] += count;
    r.mRangeMeanSums[rc] += count * mean;
    const double relative = range / mSettings.mReferenceRange;
    for (std::size_t k = 0; k < mWhole.size(); ++k) {
      r.mDamage[k] += count * power(relative, mSettings.mSlopes[k], mWhole[k]);
    }
    if (r.mCyclesComplete) {
      const auto [it, inserted] = mCycles.try_emplace({normalized(from), normalized(to)}, 0.0);
      it->second += count;
      if (inserted && mCycles.size() > mSettings.mMaxCycles) {
        r.mCyclesComplete = false;
        std::unordered_map<std::pair<double, double>, double, PairHash>().swap(mCycles);
      }
    }
  }

  const RainflowSettings mSettings;
  const unsigned mN;
  const double mLo, mHi, mWidth, mInverseWidth;
  CTurningPoints mTurning;
  const bool mFourPoint;
  std::vector<int> mWhole;  // per slope: the whole exponent, or 0 for pow
  RainflowResult mResult;
  std::vector<double> mStack;
  std::vector<double> mCrossingSteps;  // differences of the crossing counts, classes + 2
  std::unordered_map<std::pair<double, double>, double, PairHash> mCycles;
  bool mHasPrevious = false;
  double mPrevious = 0;
  std::uint64_t mFinite = 0;
  double mMin = std::numeric_limits<double>::infinity();
  double mMax = -std::numeric_limits<double>::infinity();
  bool mFinished = false;
};

CRainflowCounter::CRainflowCounter(const RainflowSettings& settings) {
  const std::string problem = mfSettingsProblem(settings);
  if (!problem.empty()) throw std::invalid_argument(problem);
  if (!settings.mHasRange) throw std::invalid_argument("a counter needs the class range");
  mState = std::make_unique<CState>(settings);
}

CRainflowCounter::~CRainflowCounter() = default;
CRainflowCounter::CRainflowCounter(CRainflowCounter&&) noexcept = default;
CRainflowCounter& CRainflowCounter::operator=(CRainflowCounter&&) noexcept = default;

void CRainflowCounter::mpAdd(const double* values, std::size_t count) { mState->mpAdd(values, count); }
void CRainflowCounter::mpAdd(const float* values, std::size_t count) { mState->mpAdd(values, count); }
RainflowResult CRainflowCounter::mfFinish() { return mState->mfFinish(); }

std::optional<ValueRange> mfFiniteRange(const double* values, std::size_t count) {
  std::optional<ValueRange> range;
  for (std::size_t i = 0; i < count; ++i) {
    const double v = values[i];
    if (!std::isfinite(v)) continue;
    if (!range) {
      range = ValueRange{v, v};
    } else {
      range->mMin = std::min(range->mMin, v);
      range->mMax = std::max(range->mMax, v);
    }
  }
  return range;
}

void mpWiden(std::optional<ValueRange>& range, const std::optional<ValueRange>& more) {
  if (!more) return;
  if (!range) {
    range = more;
    return;
  }
  range->mMin = std::min(range->mMin, more->mMin);
  range->mMax = std::max(range->mMax, more->mMax);
}

RainflowResult mfCountValues(const std::vector<double>& values, RainflowSettings settings) {
  if (!settings.mHasRange) {
    const std::optional<ValueRange> range = mfFiniteRange(values.data(), values.size());
    settings.mHasRange = true;
    settings.mRangeMin = range ? range->mMin : 0;
    settings.mRangeMax = range ? range->mMax : 0;
  }
  CRainflowCounter counter(settings);
  counter.mpAdd(values.data(), values.size());
  return counter.mfFinish();
}

void mpCombine(RainflowResult& total, const RainflowResult& part, double repetitions) {
  if (!std::isfinite(repetitions) || repetitions <= 0) {
    throw std::invalid_argument("repetitions must be a finite number above 0, got " + text(repetitions));
  }
  const auto scaled = [repetitions](std::vector<double>& values) {
    for (double& v : values) v *= repetitions;
  };
  if (total.mParts == 0) {
    total = part;
    if (repetitions != 1) {
      total.mFullCycles *= repetitions;
      total.mHalfCycles *= repetitions;
      total.mResidueCycles *= repetitions;
      total.mOutside *= repetitions;
      scaled(total.mMatrix);
      scaled(total.mRangeCounts);
      scaled(total.mRangeMeanSums);
      scaled(total.mCrossings);
      scaled(total.mDamage);
      for (RainflowCycle& c : total.mCycles) c.mCount *= repetitions;
    }
    return;
  }
  const RainflowSettings& a = total.mSettings;
  const RainflowSettings& b = part.mSettings;
  if (a.mMethod != b.mMethod || a.mGate != b.mGate || a.mClasses != b.mClasses || a.mRangeMin != b.mRangeMin ||
      a.mRangeMax != b.mRangeMax || a.mSlopes != b.mSlopes || a.mReferenceRange != b.mReferenceRange ||
      a.mReferenceCycles != b.mReferenceCycles || total.mMatrix.size() != part.mMatrix.size()) {
    throw std::invalid_argument(
        "results counted with different settings (method, gate, classes, class range or slopes) do not combine");
  }
  const auto add = [repetitions](std::vector<double>& into, const std::vector<double>& from) {
    for (std::size_t i = 0; i < into.size() && i < from.size(); ++i) into[i] += repetitions * from[i];
  };
  total.mValues += part.mValues;
  total.mNaN += part.mNaN;
  total.mInfinite += part.mInfinite;
  total.mReversals += part.mReversals;
  total.mMin = std::isnan(total.mMin) ? part.mMin : std::isnan(part.mMin) ? total.mMin : std::min(total.mMin, part.mMin);
  total.mMax = std::isnan(total.mMax) ? part.mMax : std::isnan(part.mMax) ? total.mMax : std::max(total.mMax, part.mMax);
  total.mFullCycles += repetitions * part.mFullCycles;
  total.mHalfCycles += repetitions * part.mHalfCycles;
  total.mResidueCycles += repetitions * part.mResidueCycles;
  total.mOutside += repetitions * part.mOutside;
  add(total.mMatrix, part.mMatrix);
  add(total.mRangeCounts, part.mRangeCounts);
  add(total.mRangeMeanSums, part.mRangeMeanSums);
  add(total.mCrossings, part.mCrossings);
  add(total.mDamage, part.mDamage);
  if (total.mCyclesComplete && part.mCyclesComplete) {
    std::vector<RainflowCycle> merged;
    merged.reserve(total.mCycles.size() + part.mCycles.size());
    const auto before = [](const RainflowCycle& x, const RainflowCycle& y) {
      return x.mFrom < y.mFrom || (x.mFrom == y.mFrom && x.mTo < y.mTo);
    };
    std::size_t i = 0, j = 0;
    while (i < total.mCycles.size() || j < part.mCycles.size()) {
      if (j == part.mCycles.size() || (i < total.mCycles.size() && before(total.mCycles[i], part.mCycles[j]))) {
        merged.push_back(total.mCycles[i++]);
      } else if (i == total.mCycles.size() || before(part.mCycles[j], total.mCycles[i])) {
        RainflowCycle c = part.mCycles[j++];
        c.mCount *= repetitions;
        merged.push_back(c);
      } else {
        RainflowCycle c = total.mCycles[i++];
        c.mCount += repetitions * part.mCycles[j++].mCount;
        merged.push_back(c);
      }
    }
    if (merged.size() > total.mSettings.mMaxCycles) {
      total.mCyclesComplete = false;
      total.mCycles.clear();
    } else {
      total.mCycles = std::move(merged);
    }
  } else {
    total.mCyclesComplete = false;
    total.mCycles.clear();
  }
  total.mResidue.clear();
  total.mParts += part.mParts;
}

}  // namespace nodra::test::reference
