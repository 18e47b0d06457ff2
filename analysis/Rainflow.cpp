#include "analysis/Rainflow.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

namespace TamblixHq::NODRA::Analysis {

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

// x^k for a whole k from 1 to 64 by squaring; any other k through pow. The common slopes
// are written out with the products of the loop in its order, for the same bits.
double power(double x, double k, int whole) {
  switch (whole) {
    case 0:
      return std::pow(x, k);
    case 1:
      return x;
    case 2:
      return x * x;
    case 3:
      return x * (x * x);
    case 4: {
      const double x2 = x * x;
      return x2 * x2;
    }
    case 5: {
      const double x2 = x * x;
      return x * (x2 * x2);
    }
    default:
      break;
  }
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

  // Of the candidate from the last kept reversal: 1 rising, -1 falling, 0 none yet.
  int mfDirection() const { return mDirection; }
  double mfCandidate() const { return mCandidate; }

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
// `strict`: only when it is smaller than the range before it; a tie may close differently
// when what precedes the stack's bottom is not known.
template <typename Point, typename Cycle>
void reduceFourPoint(std::vector<Point>& s, Cycle&& cycle, bool strict = false) {
  for (std::size_t n = s.size(); n >= 4; n = s.size()) {
    const double a = s[n - 4].mValue, b = s[n - 3].mValue, c = s[n - 2].mValue, d = s[n - 1].mValue;
    const double inner = std::fabs(c - b), before = std::fabs(b - a);
    if (inner > before || (strict && inner == before) || inner > std::fabs(d - c)) return;
    cycle(s[n - 3], s[n - 2]);
    s[n - 3] = s[n - 1];
    s.resize(n - 2);
  }
}

void checkStack(std::size_t size) {
  if (size > kMaxResidue) {
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

namespace {

// A reversal on the rainflow stack with its class in the matrix and its level among the
// class boundaries, both found once when it is pushed.
struct Reversal {
  double mValue;
  unsigned mClass;
  int mLevel;
};

}  // namespace

// Everything a counting keeps between chunks. The counter of a segment (mOpenStart) counts
// values that follow others: its first value may not be a reversal of the whole signal nor
// its starting point, so it closes only the cycles that counting the whole signal closes
// whatever precedes, leaves the rest on its stack, and mpJoin carries them on.
class CRainflowCounter::CState {
public:
  // `spent`: a spent counter of the same settings whose memory is taken over (its arrays'
  // and stack's), everything else starting anew; a segment after segment needs no new pages.
  CState(const RainflowSettings& settings, bool openStart, CState* spent = nullptr)
      : mSettings(settings),
        mN(settings.mClasses),
        mLo(settings.mRangeMin),
        mHi(settings.mRangeMax),
        mWidth((settings.mRangeMax - settings.mRangeMin) / settings.mClasses),
        mInverseWidth(mWidth > 0 ? 1 / mWidth : 0),
        mMargin(mWidth > 0 ? std::max(1e-9, 1e-12 * (std::fabs(mLo) + std::fabs(mHi)) / mWidth) : 0),
        mUnitReference(settings.mReferenceRange == 1),
        mTurning(settings.mGate),
        mFourPoint(settings.mMethod == RainflowMethod::kFourPoint),
        mOpenStart(openStart) {
    if (spent) {
      mResult.mMatrix = std::move(spent->mResult.mMatrix);
      mResult.mRangeCounts = std::move(spent->mResult.mRangeCounts);
      mResult.mRangeMeanSums = std::move(spent->mResult.mRangeMeanSums);
      mCrossingSteps = std::move(spent->mCrossingSteps);
      mStack = std::move(spent->mStack);
      mStack.clear();
    }
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

  void mpJoin(CState& b) {
    if (mFinished || b.mFinished) throw std::logic_error("CRainflowCounter: a finished counting joined");
    if (mOpenStart || !b.mOpenStart) throw std::invalid_argument("only the counter of a segment joins another's");
    if (!sameSettings(mSettings, b.mSettings)) throw std::invalid_argument("counters of different settings do not join");
    mResult.mValues += b.mResult.mValues;
    mResult.mNaN += b.mResult.mNaN;
    mResult.mInfinite += b.mResult.mInfinite;
    b.mFinished = true;
    if (b.mFinite == 0) return;
    if (mFinite == 0) throw std::logic_error("CRainflowCounter: a segment joined to a counting without a value");
    // Where the two meet, the reversals of the whole signal are among this counting's last
    // candidate, b's first value and b's second reversal (the first b knows to be one):
    // their rises cross boundaries that neither side counted.
    CTurningPoints joint = mTurning;
    const auto emit = [this](double v) {
      ++mResult.mReversals;
      mpCrossing(mfClassify(v));
    };
    joint.mpAdd(b.mFirst, emit);
    if (b.mResult.mReversals >= 2) {
      joint.mpAdd(b.mSecond, emit);
      mpCrossing(mfClassify(b.mSecond));
      mPreviousLevel = b.mPreviousLevel;
    } else if (b.mTurning.mfDirection() != 0) {
      joint.mpAdd(b.mTurning.mfCandidate(), emit);
    }
    mResult.mReversals += b.mResult.mReversals - 1;
    // b's cycles are cycles of the whole signal; what b left on its stack follows this
    // counting's stack, through the turning points (b's first value may be none).
    RainflowResult& r = mResult;
    const auto add = [](std::vector<double>& into, const std::vector<double>& from) {
      for (std::size_t i = 0; i < into.size(); ++i) into[i] += from[i];
    };
    add(r.mMatrix, b.mResult.mMatrix);
    add(r.mRangeCounts, b.mResult.mRangeCounts);
    add(r.mRangeMeanSums, b.mResult.mRangeMeanSums);
    add(r.mDamage, b.mResult.mDamage);
    add(mCrossingSteps, b.mCrossingSteps);
    r.mFullCycles += b.mResult.mFullCycles;
    r.mHalfCycles += b.mResult.mHalfCycles;
    r.mOutside += b.mResult.mOutside;
    if (r.mCyclesComplete && b.mResult.mCyclesComplete) {
      for (const auto& [key, count] : b.mCycles) mpList(key, count);
    } else {
      mpDropList();
    }
    mFinite += b.mFinite;
    mMin = std::min(mMin, b.mMin);
    mMax = std::max(mMax, b.mMax);
    const auto push = [this](double v) { mpPush(mfClassify(v)); };
    for (const Reversal& v : b.mStack) mTurning.mpAdd(v.mValue, push);
    if (b.mTurning.mfDirection() != 0) mTurning.mpAdd(b.mTurning.mfCandidate(), push);
  }

  // Counters whose results will be joined share the flag: once one of them drops its
  // cycle list, the joined list is dropped too, and the others need not keep theirs.
  void mpShareListDrop(std::shared_ptr<std::atomic<bool>> dropped) {
    mListDropped = std::move(dropped);
    if (!mResult.mCyclesComplete) mListDropped->store(true, std::memory_order_relaxed);
  }

  RainflowResult mfFinish() {
    if (mFinished) throw std::logic_error("CRainflowCounter: mfFinish called twice");
    if (mOpenStart) throw std::logic_error("CRainflowCounter: the counter of a segment is joined, not finished");
    mFinished = true;
    mTurning.mpFinish([this](double v) { mpReversal(v); });
    mpCompact();
    mResult.mResidue.reserve(mStack.size());
    for (const Reversal& v : mStack) mResult.mResidue.push_back(v.mValue);
    if (!mFourPoint) {
      for (std::size_t i = 0; i + 1 < mStack.size(); ++i) {
        mpCycle(mStack[i], mStack[i + 1], 0.5, true);
        mResult.mResidueCycles += 0.5;
      }
    } else {
      // The residue followed by itself once, through the same turning points and the
      // four-point rule: what closes are full cycles; what remains is discarded.
      CTurningPoints turning(mSettings.mGate);
      std::vector<Reversal> stack;
      const auto push = [&](double v) {
        stack.push_back(mfClassify(v));
        reduceFourPoint(stack, [&](const Reversal& from, const Reversal& to) {
          mpCycle(from, to, 1, false);
          mResult.mResidueCycles += 1;
        });
      };
      for (int pass = 0; pass < 2; ++pass) {
        for (const Reversal& v : mStack) turning.mpAdd(v.mValue, push);
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
  // floor(d / w) clamped to the classes, for d a value's distance from the range's minimum
  // or a range. The reciprocal decides unless its quotient lies within rounding of a whole
  // number (within 1e-12 of one for |d / w| <= classes + 1; the margin is 1e-9), then the
  // division does: the class is always the division's.
  unsigned mfClamped(double d) const {
    const double q = d * mInverseWidth;
    if (q >= mN + 1.0) return mN - 1;
    if (q < -1.0) return 0;
    double c = std::floor(q);
    const double fraction = q - c;
    if (!(fraction > 1e-9 && fraction < 1 - 1e-9)) c = std::floor(d / mWidth);
    if (!(c >= 0)) return 0;
    return c >= mN ? mN - 1 : static_cast<unsigned>(c);
  }

  double mfBoundary(int j) const { return j >= static_cast<int>(mN) ? mHi : mLo + static_cast<double>(j) * mWidth; }

  // The value's class, and the last class boundary at or below it (-1: none), the
  // boundaries as mfBoundary computes them; a rise from a to b crosses the boundaries
  // level(a) + 1 to level(b).
  Reversal mfClassify(double v) const {
    const int n = static_cast<int>(mN);
    if (!(mWidth > 0)) return {v, 0, v >= mLo ? n : -1};
    const double d = v - mLo, q = d * mInverseWidth;
    if (q > -1 && q < n + 1.0) {
      // Away from a whole number by more than the rounding of the quotient and of the
      // boundaries, its floor is both the class and the level.
      const double f = std::floor(q), fraction = q - f;
      if (fraction > mMargin && fraction < 1 - mMargin) {
        const int j = static_cast<int>(f);
        return {v, j < 0 ? 0u : j >= n ? mN - 1 : static_cast<unsigned>(j), j};
      }
    }
    const double f = std::floor(q);
    int j = !(f > -1) ? -1 : f > n ? n : static_cast<int>(f);
    while (j < n && mfBoundary(j + 1) <= v) ++j;
    while (j >= 0 && mfBoundary(j) > v) --j;
    return {v, mfClamped(d), j};
  }

  void mpCrossing(const Reversal& v) {
    if (mHasPrevious && v.mLevel > mPreviousLevel) {
      mCrossingSteps[static_cast<std::size_t>(mPreviousLevel + 1)] += 1;
      mCrossingSteps[static_cast<std::size_t>(v.mLevel + 1)] -= 1;
    }
    mPreviousLevel = v.mLevel;
    mHasPrevious = true;
  }

  void mpReversal(double v) {
    const Reversal r = mfClassify(v);
    if (++mResult.mReversals <= 2 && mOpenStart) {
      // A segment's first value may lie within a rise of the whole signal: the rise to its
      // second reversal is counted by the join.
      (mResult.mReversals == 1 ? mFirst : mSecond) = v;
      mPreviousLevel = r.mLevel;
      mHasPrevious = mResult.mReversals == 2;
    } else {
      mpCrossing(r);
    }
    mpPush(r);
  }

  void mpPush(const Reversal& v) {
    std::vector<Reversal>& s = mStack;
    s.push_back(v);
    if (mFourPoint) {
      reduceFourPoint(
          s, [this](const Reversal& from, const Reversal& to) { mpCycle(from, to, 1, false); }, mOpenStart);
    } else {
      // ASTM E1049-85 5.4.4: X the newest range, Y the one before; X >= Y closes Y, a half
      // cycle when Y holds the starting point (the bottom of the stack, s[mBottom]). A
      // segment has no starting point: it closes Y only when the range before Y is larger
      // than Y, as the whole signal's stack then closes it whatever precedes (so does the
      // four-point rule of a segment).
      for (std::size_t n = s.size(); n >= mBottom + 3; n = s.size()) {
        const double x = std::fabs(s[n - 1].mValue - s[n - 2].mValue);
        const double y = std::fabs(s[n - 2].mValue - s[n - 3].mValue);
        if (x < y) break;
        if (n == mBottom + 3 && !mOpenStart) {
          mpCycle(s[mBottom], s[mBottom + 1], 0.5, true);
          // The starting point moves on; the stack is moved down once its bottom passed
          // half of it.
          if (++mBottom > 64 && 2 * mBottom > n) mpCompact();
        } else if (n == 3 || (mOpenStart && !(std::fabs(s[n - 3].mValue - s[n - 4].mValue) > y))) {
          break;
        } else {
          mpCycle(s[n - 3], s[n - 2], 1, false);
          s[n - 3] = s[n - 1];
          s.resize(n - 2);
        }
      }
    }
    checkStack(s.size() - mBottom);
  }

  void mpCompact() {
    mStack.erase(mStack.begin(), mStack.begin() + static_cast<std::ptrdiff_t>(mBottom));
    mBottom = 0;
  }

  void mpCycle(const Reversal& from, const Reversal& to, double count, bool half) {
    RainflowResult& r = mResult;
    (half ? r.mHalfCycles : r.mFullCycles) += count;
    const double range = std::fabs(to.mValue - from.mValue), mean = (from.mValue + to.mValue) / 2;
    r.mMatrix[std::size_t{from.mClass} * mN + to.mClass] += count;
    if (from.mValue < mLo || from.mValue > mHi || to.mValue < mLo || to.mValue > mHi) r.mOutside += count;
    const unsigned rc = mWidth > 0 ? mfClamped(range) : 0;
    r.mRangeCounts[rc] += count;
    r.mRangeMeanSums[rc] += count * mean;
    const double relative = mUnitReference ? range : range / mSettings.mReferenceRange;
    for (std::size_t k = 0; k < mWhole.size(); ++k) {
      r.mDamage[k] += count * power(relative, mSettings.mSlopes[k], mWhole[k]);
    }
    if (r.mCyclesComplete) {
      if (mListDropped && mListDropped->load(std::memory_order_relaxed)) {
        mpDropList();
      } else {
        mpList({normalized(from.mValue), normalized(to.mValue)}, count);
      }
    }
  }

  void mpList(const std::pair<double, double>& key, double count) {
    const auto [it, inserted] = mCycles.try_emplace(key, 0.0);
    it->second += count;
    if (inserted && mCycles.size() > mSettings.mMaxCycles) mpDropList();
  }

  void mpDropList() {
    mResult.mCyclesComplete = false;
    if (mListDropped) mListDropped->store(true, std::memory_order_relaxed);
    std::unordered_map<std::pair<double, double>, double, PairHash>().swap(mCycles);
  }

  const RainflowSettings mSettings;
  const unsigned mN;
  const double mLo, mHi, mWidth, mInverseWidth;
  // How far from a whole number a value's quotient (v - lo) / w is surely on the side of the
  // computed boundaries and of the division that its floor says.
  const double mMargin;
  const bool mUnitReference;  // S_ref == 1: a range is its own relative range
  CTurningPoints mTurning;
  const bool mFourPoint;
  const bool mOpenStart;
  std::vector<int> mWhole;  // per slope: the whole exponent, or 0 for pow
  RainflowResult mResult;
  std::vector<Reversal> mStack;  // from mBottom up
  std::size_t mBottom = 0;
  std::vector<double> mCrossingSteps;  // differences of the crossing counts, classes + 2
  std::unordered_map<std::pair<double, double>, double, PairHash> mCycles;
  std::shared_ptr<std::atomic<bool>> mListDropped;  // shared with the counters joined with this
  bool mHasPrevious = false;
  int mPreviousLevel = 0;
  double mFirst = 0, mSecond = 0;  // a segment's first two reversals
  std::uint64_t mFinite = 0;
  double mMin = std::numeric_limits<double>::infinity();
  double mMax = -std::numeric_limits<double>::infinity();
  bool mFinished = false;
};

CRainflowCounter::CRainflowCounter(const RainflowSettings& settings) {
  const std::string problem = mfSettingsProblem(settings);
  if (!problem.empty()) throw std::invalid_argument(problem);
  if (!settings.mHasRange) throw std::invalid_argument("a counter needs the class range");
  mState = std::make_unique<CState>(settings, false);
}

CRainflowCounter CRainflowCounter::sfSegment(const RainflowSettings& settings) {
  CRainflowCounter counter(settings);
  if (settings.mGate != 0) throw std::invalid_argument("a signal counted with a gate is not cut into segments");
  counter.mState = std::make_unique<CState>(settings, true);
  return counter;
}

void CRainflowCounter::mpJoin(CRainflowCounter& next) { mState->mpJoin(*next.mState); }

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

const SegmentMemory kFreeStoreSegments{[](std::size_t count) { return new (std::nothrow) double[count]; },
                                       [](double* values, std::size_t) { delete[] values; }};

class CParallelRainflowCounter::CState {
public:
  CState(const RainflowSettings& settings, unsigned threads, std::size_t segment, const SegmentMemory& memory)
      : mSettings(settings),
        mThreads(std::max(1u, threads)),
        mSegment(std::max<std::size_t>(1, segment)),
        mMemory(memory),
        mFirst(settings),
        mListDropped(std::make_shared<std::atomic<bool>>(false)) {
    mFirst->mState->mpShareListDrop(mListDropped);
  }

  ~CState() {
    for (Segment& segment : mRunning) {
      if (segment.mThread.joinable()) segment.mThread.join();
    }
  }

  template <typename T>
  void mpAdd(const T* values, std::size_t count) {
    if (mSettings.mGate != 0) {
      mFirst->mpAdd(values, count);
      return;
    }
    // What precedes the first finite value goes to the first counter here (a segment cannot
    // hold the starting point); from that value on, the first counter takes a segment's
    // length, so that a channel no longer than that is counted as a plain counter counts it,
    // bit for bit.
    std::size_t i = 0;
    if (!mStarted) {
      while (i < count && !std::isfinite(static_cast<double>(values[i]))) ++i;
      mFirst->mpAdd(values, i);
      mStarted = i < count;
    }
    if (mThreads == 1) {
      // Counted here, segment by segment, as the values come: nothing to gather.
      while (i < count) {
        if (mCounted == mSegment) {
          if (mCurrent) {
            mFirst->mpJoin(*mCurrent);
            mSpent = std::move(mCurrent);
          }
          mCurrent = mfNewSegment();
          mCounted = 0;
        }
        const std::size_t n = std::min(count - i, mSegment - mCounted);
        (mCurrent ? *mCurrent : *mFirst).mpAdd(values + i, n);
        i += n;
        mCounted += n;
      }
      return;
    }
    while (i < count) {
      if (!mGathered.mValues) mGathered = mfTakeValues();
      const std::size_t n = std::min(count - i, mSegment - mGathered.mSize);
      std::copy(values + i, values + i + n, mGathered.mValues.get() + mGathered.mSize);
      mGathered.mSize += n;
      i += n;
      if (mGathered.mSize == mSegment) mpStart();
    }
  }

  RainflowResult mfFinish() {
    if (mCurrent) mFirst->mpJoin(*mCurrent);
    if (mGathered.mSize > 0) mpStart();
    while (!mRunning.empty()) mpJoinOldest();
    return mFirst->mfFinish();
  }

private:
  // Values gathered for a segment, in memory of mMemory (mSegment values).
  struct Values {
    std::unique_ptr<double[], std::function<void(double*)>> mValues;
    std::size_t mSize = 0;
  };

  struct Segment {
    Values mValues;
    CRainflowCounter mCounter;
    bool mFirst;  // mCounter is the first counter, lent to the thread
    std::exception_ptr mError;
    std::thread mThread;
  };

  CRainflowCounter mfNewSegment() {
    if (!mSpent) return mfShared(CRainflowCounter::sfSegment(mSettings));
    CRainflowCounter segment = std::move(*mSpent);
    mSpent.reset();
    segment.mState = std::make_unique<CRainflowCounter::CState>(mSettings, true, segment.mState.get());
    return mfShared(std::move(segment));
  }

  CRainflowCounter mfShared(CRainflowCounter segment) {
    segment.mState->mpShareListDrop(mListDropped);
    return segment;
  }

  Values mfTakeValues() {
    if (!mSpare.empty()) {
      Values values = std::move(mSpare.back());
      mSpare.pop_back();
      values.mSize = 0;
      return values;
    }
    const SegmentMemory memory = mMemory;
    const std::size_t size = mSegment;
    double* taken = memory.mTake(size);
    if (!taken) throw std::bad_alloc();
    return {{taken, [memory, size](double* values) { memory.mGive(values, size); }}, 0};
  }

  // Counts the gathered values on a thread of their own: the first segment with the first
  // counter itself, the others each with a segment's counter.
  void mpStart() {
    if (mRunning.size() >= mThreads) mpJoinOldest();
    const bool first = !mFirstStarted;
    mFirstStarted = true;
    mRunning.push_back({std::move(mGathered), first ? std::move(*mFirst) : mfNewSegment(), first, nullptr, std::thread()});
    if (first) mFirst.reset();
    mGathered = {};
    Segment& segment = mRunning.back();
    const auto count = [&segment] {
      try {
        segment.mCounter.mpAdd(segment.mValues.mValues.get(), segment.mValues.mSize);
      } catch (...) {
        segment.mError = std::current_exception();
      }
    };
    try {
      segment.mThread = std::thread(count);
    } catch (const std::system_error&) {
      count();  // no thread to be had: counted here
    }
  }

  void mpJoinOldest() {
    Segment& segment = mRunning.front();
    if (segment.mThread.joinable()) segment.mThread.join();
    const std::exception_ptr error = segment.mError;
    if (segment.mFirst) {
      mFirst.emplace(std::move(segment.mCounter));
    } else if (!error) {
      mFirst->mpJoin(segment.mCounter);
      mSpent = std::move(segment.mCounter);
    }
    // The next segments are gathered into this memory and counted with this counter's:
    // fresh pages cost more than the copy.
    mSpare.push_back(std::move(segment.mValues));
    mRunning.pop_front();
    if (error) std::rethrow_exception(error);
  }

  const RainflowSettings mSettings;
  const unsigned mThreads;
  const std::size_t mSegment;
  const SegmentMemory mMemory;
  // The counter of the values from the start; lent to its thread while it counts the first
  // segment, and every later segment joins it.
  std::optional<CRainflowCounter> mFirst;
  // Set by the first counter or segment that drops its cycle list, which the joined result
  // then drops too: the others stop listing.
  const std::shared_ptr<std::atomic<bool>> mListDropped;
  bool mStarted = false;                     // a finite value was given
  bool mFirstStarted = false;                // more threads: the first segment went to its thread
  std::optional<CRainflowCounter> mCurrent;  // one thread: the segment being counted
  std::size_t mCounted = 0;                  // one thread: values in the counter being fed
  std::optional<CRainflowCounter> mSpent;    // a joined segment's, its memory for the next
  Values mGathered;
  std::vector<Values> mSpare;    // memory of segments joined, for the next
  std::deque<Segment> mRunning;  // counted on their threads, oldest first
};

CParallelRainflowCounter::CParallelRainflowCounter(const RainflowSettings& settings, unsigned threads,
                                                   std::size_t segment, const SegmentMemory& memory)
    : mState(std::make_unique<CState>(settings, threads, segment, memory)) {}
CParallelRainflowCounter::~CParallelRainflowCounter() = default;
void CParallelRainflowCounter::mpAdd(const double* values, std::size_t count) { mState->mpAdd(values, count); }
void CParallelRainflowCounter::mpAdd(const float* values, std::size_t count) { mState->mpAdd(values, count); }
RainflowResult CParallelRainflowCounter::mfFinish() { return mState->mfFinish(); }

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

}  // namespace TamblixHq::NODRA::Analysis
