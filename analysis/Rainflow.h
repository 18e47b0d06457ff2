// Rainflow cycle counting (ASTM E1049-85) of values given in chunks of any size, and what
// durability engineers take from the cycles: the from-to matrix, the range histogram and its
// cumulative exceedance, level crossings of the class boundaries, the residue and pseudo-
// damage per Woehler slope. Standard library only; below the framework. The counter keeps
// only its state (the turning-point state, the rainflow stack, the class arrays and the
// aggregated cycle list up to its cap), so counting a channel in chunks of any size gives,
// bit for bit, the result of counting it whole. doc/rainflow.md defines every figure.
// A counter is used from one thread at a time; results are plain values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TamblixHq::NODRA::Analysis {

// How cycles are closed.
enum class RainflowMethod {
  // ASTM E1049-85, 5.4.4: the three-point rule; a range that contains the starting point
  // is a half cycle, and the residue is counted as half cycles: the standard's result.
  kAstm,
  // The four-point rule; the residue is closed by counting it followed by itself once, the
  // cycles closed then being full cycles and what remains discarded (repeated blocks).
  kFourPoint
};

constexpr unsigned kDefaultClasses = 64;
constexpr unsigned kMaxClasses = 512;
constexpr std::size_t kMaxSlopes = 16;
constexpr std::size_t kDefaultMaxCycles = 10000;
constexpr std::size_t kMaxListedCycles = 262144;
// The most reversals the rainflow stack holds: a residue grows only with a history whose
// ranges keep shrinking (or growing, for the four-point rule), and is bounded here so that
// counting stays in bounded memory whatever the values.
constexpr std::size_t kMaxResidue = 1u << 20;

struct RainflowSettings {
  RainflowMethod mMethod = RainflowMethod::kAstm;
  // Hysteresis: a reversal whose range to the previous kept reversal is below the gate is
  // dropped. 0: none (equal consecutive values are still one point).
  double mGate = 0;
  // Classes of the matrix, of the range histogram, and the class boundaries crossed.
  unsigned mClasses = kDefaultClasses;
  // The class range [mRangeMin, mRangeMax]; a counter needs it (mfCountValues and the
  // channel operation take the values' minimum and maximum when it is not given).
  bool mHasRange = false;
  double mRangeMin = 0;
  double mRangeMax = 0;
  // Woehler slopes k of the pseudo-damage D = sum n (S / S_ref)^k [/ N_ref].
  std::vector<double> mSlopes{3, 5};
  double mReferenceRange = 1;   // S_ref
  double mReferenceCycles = 0;  // N_ref; 0: none (D is not divided)
  // The most distinct (from, to) pairs the aggregated cycle list keeps; beyond, the list is
  // dropped (the other figures stay exact).
  std::size_t mMaxCycles = kDefaultMaxCycles;
};

// Empty when the settings can be counted with; otherwise what is wrong with them, as one
// phrase ("classes must be from 1 to 512, got 0").
std::string mfSettingsProblem(const RainflowSettings& settings);

// One aggregated entry: every cycle from `mFrom` to `mTo` (values as read), with its
// count (0.5 per half cycle, 1 per full cycle, times repetitions when combined).
struct RainflowCycle {
  double mFrom = 0;
  double mTo = 0;
  double mCount = 0;
  bool operator==(const RainflowCycle& other) const {
    return mFrom == other.mFrom && mTo == other.mTo && mCount == other.mCount;
  }
};

struct RainflowResult {
  RainflowSettings mSettings;  // as counted, with the class range used
  // What was read: values, of them NaN and infinite (left out of everything else), and the
  // turning points kept. Not multiplied by repetitions when results are combined.
  std::uint64_t mValues = 0;
  std::uint64_t mNaN = 0;
  std::uint64_t mInfinite = 0;
  std::uint64_t mReversals = 0;
  // Smallest and largest finite value read (NaN when none).
  double mMin;
  double mMax;
  // Cycle counts: full cycles, half cycles (counted as 0.5 each, so this is half their
  // number), and of these the cycles that come from the residue (ASTM: its half cycles;
  // four-point: the cycles closed by repeating it).
  double mFullCycles = 0;
  double mHalfCycles = 0;
  double mResidueCycles = 0;
  // Cycles with an end outside the class range; they are counted in the edge classes.
  double mOutside = 0;
  // From-to matrix, classes x classes, row = class of `from`, column = class of `to`.
  std::vector<double> mMatrix;
  // Range histogram over [0, max - min] in `classes` classes, and per class the sum of
  // count x mean, (from + to) / 2, of its cycles.
  std::vector<double> mRangeCounts;
  std::vector<double> mRangeMeanSums;
  // Upward crossings of each of the classes + 1 class boundaries by the turning points.
  std::vector<double> mCrossings;
  // Pseudo-damage per slope, in the order of the settings' slopes.
  std::vector<double> mDamage;
  // The aggregated cycle list, sorted by (from, to); complete only while it stayed within
  // the settings' mMaxCycles distinct pairs (otherwise empty).
  bool mCyclesComplete = true;
  std::vector<RainflowCycle> mCycles;
  // The reversals left on the rainflow stack at the end, in order (one counting only; empty
  // for a combination of several).
  std::vector<double> mResidue;
  // Countings combined into this result (1 for one counting; 0 for an empty combination).
  std::uint64_t mParts = 0;

  RainflowResult();
  double mfTotalCycles() const { return mFullCycles + mHalfCycles; }
  // Class width of values and of ranges: (max - min) / classes.
  double mfClassWidth() const;
  // Lower bound of value class i; i == classes gives the range's maximum.
  double mfBoundary(unsigned i) const;
  // Cycles with a range at least the lower bound of each range class.
  std::vector<double> mfExceedance() const;
  bool operator==(const RainflowResult& other) const;
};

// Counts values given in chunks. Non-finite values are left out and counted. A long signal
// can be cut into segments counted at once, each by a segment's counter, and joined in
// order to the counter of its start (CParallelRainflowCounter does).
class CRainflowCounter {
public:
  // Throws std::invalid_argument when the settings have a problem or no range.
  explicit CRainflowCounter(const RainflowSettings& settings);
  // The counter of a segment: values that follow others, given to mpJoin instead of being
  // finished. Throws std::invalid_argument also for a gate (where a segment's turning
  // points fall then depends on what precedes it).
  static CRainflowCounter sfSegment(const RainflowSettings& settings);
  ~CRainflowCounter();
  CRainflowCounter(CRainflowCounter&&) noexcept;
  CRainflowCounter& operator=(CRainflowCounter&&) noexcept;

  // Throws std::length_error when the rainflow stack would hold more than kMaxResidue
  // reversals.
  void mpAdd(const double* values, std::size_t count);
  void mpAdd(const float* values, std::size_t count);
  void mpAdd(double value) { mpAdd(&value, 1); }

  // Takes in `next`, the counter of the segment of values that follow those given here, as
  // if they had been given here: the result is the same, bit for bit but for the damage and
  // the range means' sums, which add in another order (equal within rounding). `next` is
  // spent. REQUIRES: this counter is not a segment's; both have the same settings.
  void mpJoin(CRainflowCounter& next);

  // The result of every value given; the counter is spent afterwards. Throws
  // std::logic_error for a segment's counter.
  RainflowResult mfFinish();

private:
  friend class CParallelRainflowCounter;
  class CState;
  std::unique_ptr<CState> mState;
};

// Smallest and largest finite value; nothing when there is none.
struct ValueRange {
  double mMin;
  double mMax;
};
std::optional<ValueRange> mfFiniteRange(const double* values, std::size_t count);
// Merges `more` into `range`.
void mpWiden(std::optional<ValueRange>& range, const std::optional<ValueRange>& more);

// Counts `values` whole; without a range in the settings, the values' own (0, 0 without
// finite values).
RainflowResult mfCountValues(const std::vector<double>& values, RainflowSettings settings);

// Counts values given in chunks on up to `threads` threads: from the first finite value
// on, a segment's length (kParallelSegment values) is counted as it comes; the values after
// it are gathered into segments, each counted by a segment's counter on a thread of its own
// while the next is gathered, and joined in order. The result of counting the values whole:
// bit for bit up to one segment, beyond it but for the sums mpJoin names. It depends on the
// values and the segment's length only, not on the threads (one thread counts the same
// segments in turn, as the values come, without gathering them). With a gate, counted as
// they come. Memory: on more than one thread, the values of up to `threads` + 1 segments.
// Used from one thread.
constexpr std::size_t kParallelSegment = std::size_t{1} << 20;
// Where the values of a segment are gathered: mTake(count) gives memory for `count` values
// (nullptr when there is none), mGive takes it back. Each piece is taken once and used for
// segment after segment. Fresh pages can cost more than counting the values they hold
// (on a virtual machine); a caller may give memory that comes in fewer of them.
struct SegmentMemory {
  double* (*mTake)(std::size_t count);
  void (*mGive)(double* values, std::size_t count);
};
extern const SegmentMemory kFreeStoreSegments;  // new[] and delete[]
class CParallelRainflowCounter {
public:
  // Throws as CRainflowCounter's constructor.
  CParallelRainflowCounter(const RainflowSettings& settings, unsigned threads,
                           std::size_t segment = kParallelSegment,
                           const SegmentMemory& memory = kFreeStoreSegments);
  ~CParallelRainflowCounter();
  CParallelRainflowCounter(const CParallelRainflowCounter&) = delete;
  CParallelRainflowCounter& operator=(const CParallelRainflowCounter&) = delete;

  // Throw what the counters throw, from the call that joins the segment concerned.
  void mpAdd(const double* values, std::size_t count);
  void mpAdd(const float* values, std::size_t count);
  RainflowResult mfFinish();

private:
  class CState;
  std::unique_ptr<CState> mState;
};

// Adds `part` counted `repetitions` times into `total`: cycle figures and damage add with
// the repetitions; values, NaN and reversals add once; minimum and maximum widen; the
// cycle list merges (incomplete when either is, or beyond the cap); the residue list is
// kept only while `total` holds a single part. A default-constructed `total` (no matrix)
// takes `part`'s settings. Throws std::invalid_argument when the parts were counted with
// different classes, class range, method, gate or slopes, or repetitions is not positive.
void mpCombine(RainflowResult& total, const RainflowResult& part, double repetitions = 1);

}  // namespace TamblixHq::NODRA::Analysis
