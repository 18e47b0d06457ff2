#include "host/framework/RainflowReply.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>

#include "host/utility/HugePagesU.h"

namespace TamblixHq::NODRA::Framework {

namespace {
const Analysis::SegmentMemory kHugePageSegments{
    [](std::size_t count) {
      return count > SIZE_MAX / sizeof(double)
                 ? nullptr
                 : static_cast<double*>(Utility::mfTakeHugePages(count * sizeof(double)));
    },
    [](double* values, std::size_t) { Utility::mpGiveHugePages(values); }};
}  // namespace

namespace {
std::atomic<unsigned> gRainflowThreads{0};
}  // namespace

void mpSetRainflowThreads(unsigned threads) { gRainflowThreads = threads; }

unsigned mfRainflowThreads() {
  const unsigned threads = gRainflowThreads;
  return threads != 0 ? threads : std::max(1u, std::thread::hardware_concurrency());
}

Analysis::CParallelRainflowCounter mfRainflowCounter(const Analysis::RainflowSettings& settings, unsigned threads) {
  return Analysis::CParallelRainflowCounter(settings, threads != 0 ? threads : mfRainflowThreads(),
                                            Analysis::kParallelSegment, kHugePageSegments);
}

void mpAddChunk(Analysis::CParallelRainflowCounter& counter, const IDL::RealValueSeqUnion& values,
                CORBA::ULong count) {
  if (values._d() == IDL::DOUBLE_PRECISION) {
    counter.mpAdd(values.double_sequence().get_buffer(), std::min(count, values.double_sequence().length()));
  } else {
    counter.mpAdd(values.float_sequence().get_buffer(), std::min(count, values.float_sequence().length()));
  }
}

namespace {

IDL::DoubleSeq toSeq(const std::vector<double>& values) {
  IDL::DoubleSeq seq;
  seq.length(static_cast<CORBA::ULong>(values.size()));
  for (CORBA::ULong i = 0; i < seq.length(); ++i) seq[i] = values[i];
  return seq;
}

std::vector<double> fromSeq(const IDL::DoubleSeq& seq) {
  return std::vector<double>(seq.get_buffer(), seq.get_buffer() + seq.length());
}

}  // namespace

Analysis::RainflowSettings mfRainflowSettings(const IDL::RainflowRequest& request) {
  Analysis::RainflowSettings s;
  s.mMethod = request.method == IDL::RAINFLOW_FOUR_POINT ? Analysis::RainflowMethod::kFourPoint
                                                        : Analysis::RainflowMethod::kAstm;
  s.mGate = request.gate;
  s.mClasses = request.classes == 0 ? Analysis::kDefaultClasses : request.classes;
  s.mHasRange = request.range_given;
  s.mRangeMin = request.range_given ? request.range_min : 0;
  s.mRangeMax = request.range_given ? request.range_max : 0;
  if (request.slopes.length() > 0) s.mSlopes = fromSeq(request.slopes);
  s.mReferenceRange = request.reference_range == 0 ? 1 : request.reference_range;
  s.mReferenceCycles = request.reference_cycles;
  s.mMaxCycles = request.max_cycles == 0 ? Analysis::kDefaultMaxCycles : request.max_cycles;
  return s;
}

IDL::RainflowRequest mfRainflowRequest(const Analysis::RainflowSettings& s) {
  IDL::RainflowRequest request;
  request.method = s.mMethod == Analysis::RainflowMethod::kFourPoint ? IDL::RAINFLOW_FOUR_POINT : IDL::RAINFLOW_ASTM;
  request.gate = s.mGate;
  request.classes = s.mClasses;
  request.range_given = s.mHasRange;
  request.range_min = s.mRangeMin;
  request.range_max = s.mRangeMax;
  request.slopes = toSeq(s.mSlopes);
  request.reference_range = s.mReferenceRange;
  request.reference_cycles = s.mReferenceCycles;
  // The request's largest cap is what the library allows; a larger one is refused there.
  request.max_cycles = static_cast<CORBA::ULong>(std::min<std::size_t>(s.mMaxCycles, 0xffffffffu));
  return request;
}

std::uint64_t mfRainflowReplyDoubles(const Analysis::RainflowResult& r) {
  return 32 + r.mSettings.mSlopes.size() + r.mMatrix.size() + r.mRangeCounts.size() + r.mRangeMeanSums.size() +
         r.mCrossings.size() + r.mDamage.size() + 3 * std::uint64_t{r.mCycles.size()} + r.mResidue.size();
}

IDL::RainflowResult* mfRainflowReply(const Analysis::RainflowResult& r) {
  IDL::RainflowResult_var reply = new IDL::RainflowResult;
  reply->settings = mfRainflowRequest(r.mSettings);
  reply->values = r.mValues;
  reply->nan_values = r.mNaN;
  reply->infinite_values = r.mInfinite;
  reply->reversals = r.mReversals;
  reply->min = r.mMin;
  reply->max = r.mMax;
  reply->full_cycles = r.mFullCycles;
  reply->half_cycles = r.mHalfCycles;
  reply->residue_cycles = r.mResidueCycles;
  reply->outside = r.mOutside;
  reply->matrix = toSeq(r.mMatrix);
  reply->range_counts = toSeq(r.mRangeCounts);
  reply->range_mean_sums = toSeq(r.mRangeMeanSums);
  reply->crossings = toSeq(r.mCrossings);
  reply->damage = toSeq(r.mDamage);
  reply->cycles_complete = r.mCyclesComplete;
  reply->cycles.length(static_cast<CORBA::ULong>(r.mCycles.size()));
  for (CORBA::ULong i = 0; i < reply->cycles.length(); ++i) {
    reply->cycles[i] = IDL::RainflowCycle{r.mCycles[i].mFrom, r.mCycles[i].mTo, r.mCycles[i].mCount};
  }
  reply->residue = toSeq(r.mResidue);
  return reply._retn();
}

Analysis::RainflowResult mfRainflowResult(const IDL::RainflowResult& reply) {
  Analysis::RainflowResult r;
  r.mSettings = mfRainflowSettings(reply.settings);
  r.mSettings.mMaxCycles = reply.settings.max_cycles;
  r.mValues = reply.values;
  r.mNaN = reply.nan_values;
  r.mInfinite = reply.infinite_values;
  r.mReversals = reply.reversals;
  r.mMin = reply.min;
  r.mMax = reply.max;
  r.mFullCycles = reply.full_cycles;
  r.mHalfCycles = reply.half_cycles;
  r.mResidueCycles = reply.residue_cycles;
  r.mOutside = reply.outside;
  r.mMatrix = fromSeq(reply.matrix);
  r.mRangeCounts = fromSeq(reply.range_counts);
  r.mRangeMeanSums = fromSeq(reply.range_mean_sums);
  r.mCrossings = fromSeq(reply.crossings);
  r.mDamage = fromSeq(reply.damage);
  r.mCyclesComplete = reply.cycles_complete;
  r.mCycles.reserve(reply.cycles.length());
  for (CORBA::ULong i = 0; i < reply.cycles.length(); ++i) {
    r.mCycles.push_back({reply.cycles[i].from_value, reply.cycles[i].to_value, reply.cycles[i].count});
  }
  r.mResidue = fromSeq(reply.residue);
  r.mParts = 1;
  return r;
}

}  // namespace TamblixHq::NODRA::Framework
