#include "host/framework/CFunction2DImpl.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "analysis/Rainflow.h"
#include "host/framework/CCallSlots.h"
#include "host/framework/CRealValuesImpl.h"
#include "host/framework/CReplyLimit.h"
#include "host/framework/RainflowReply.h"
#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

namespace {

// Values read per call while reducing: bounds the memory of a reduction of any length.
constexpr CORBA::ULong kReadChunk = CFunction2DImpl::kReadChunk;

double valueAt(const IDL::RealValueSeqUnion& values, CORBA::ULong i) {
  return values._d() == IDL::DOUBLE_PRECISION ? values.double_sequence()[i]
                                              : static_cast<double>(values.float_sequence()[i]);
}

CORBA::ULong lengthOf(const IDL::RealValueSeqUnion& values) {
  return values._d() == IDL::DOUBLE_PRECISION ? values.double_sequence().length()
                                              : values.float_sequence().length();
}

void raiseIfStopping(const char* place) {
  if (CCallSlots::sfIsStopping()) {
    Utility::raiseLogged<IDL::DBAccessException>("the server is stopping", "stopping", place);
  }
}

IDL::RealValues_ptr realValues(IDL::FunctionValues_ptr values) {
  return IDL::RealValues::_narrow(values);
}

// Runs `use` on each chunk of the values [first, first + n), read kReadChunk values a call;
// a chunk shorter than asked is a read error, and so is the program stopping (checked
// before each chunk, so that a long count ends within a chunk's reading).
template <typename Use>
void forEachChunk(IDL::RealValues_ptr values, CORBA::ULong first, CORBA::ULong n, const char* place, Use&& use) {
  for (CORBA::ULong offset = 0; offset < n; offset += kReadChunk) {
    raiseIfStopping(place);
    const CORBA::ULong asked = std::min(kReadChunk, n - offset);
    IDL::RealValueSeqUnion_var part = values->get_value_chunk(first + offset, asked);
    if (lengthOf(part.in()) != asked) {
      Utility::raiseLogged<IDL::DBAccessException>("Unable to read value " + std::to_string(first + offset),
                                                   "short chunk", place);
    }
    use(part.in());
  }
}

}  // namespace

CFunction2DImpl::CFunction2DImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CBrowsableImpl(id, poa) {}

CFunction2DImpl::~CFunction2DImpl() = default;

IDL::FunctionValues_ptr CFunction2DImpl::get_values_by_id(const char*, IDL::AxisEnum) {
  return IDL::FunctionValues::_nil();
}

IDL::FunctionValues_ptr CFunction2DImpl::get_values_by_index(CORBA::UShort, IDL::AxisEnum) {
  return IDL::FunctionValues::_nil();
}

IDL::RealValues_ptr CFunction2DImpl::mfYValues(CORBA::ULong start, CORBA::ULong count,
                                               CORBA::ULong& first, CORBA::ULong& n,
                                               const char* place) {
  IDL::FunctionValues_var values = get_values_by_index(0, IDL::Y);
  IDL::RealValues_var real = realValues(values);
  if (CORBA::is_nil(real)) {
    Utility::raiseLogged<IDL::DBAccessException>("The function has no Y values",
                                                 "get_values_by_index returned nil", place);
  }
  CRealValuesImpl::sfClipChunk(start, count, real->get_number_of_values(), first, n);
  return real._retn();
}

IDL::RealValueSeqUnion* CFunction2DImpl::get_reduced_y_values(CORBA::ULong start,
                                                              CORBA::ULong count,
                                                              CORBA::ULong step) {
  const char* place = "CFunction2DImpl::get_reduced_y_values";
  CORBA::ULong first = 0, n = 0;
  IDL::RealValues_var values = mfYValues(start, count, first, n, place);
  step = std::max<CORBA::ULong>(step, 1);
  const CORBA::ULong picked = n / step + (n % step != 0);
  CReplyLimit::sfCheck(picked, sizeof(double), place);
  CCallSlots::Slot slot(CCallSlots::sfLargeReplies(), place,
                        CCallSlots::sfIsLarge(std::uint64_t{picked} * sizeof(double)));

  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  result->double_sequence(IDL::DoubleSeq());
  IDL::DoubleSeq& out = result->double_sequence();
  CReplyLimit::sfSized(place, [&] { out.length(picked); });
  if (step >= kReadChunk) {
    // Far apart: one read per picked value.
    for (CORBA::ULong k = 0; k < picked; ++k) {
      IDL::RealValueSeqUnion_var one = values->get_value_chunk(first + k * step, 1);
      out[k] = valueAt(one.in(), 0);
    }
    return result._retn();
  }
  // Close together: whole chunks, a whole number of steps each.
  const CORBA::ULong chunk = kReadChunk / step * step;
  CORBA::ULong k = 0;
  for (CORBA::ULong offset = 0; offset < n; offset += chunk) {
    IDL::RealValueSeqUnion_var part = values->get_value_chunk(first + offset, std::min(chunk, n - offset));
    for (CORBA::ULong i = 0; i < lengthOf(part.in()) && k < picked; i += step) out[k++] = valueAt(part.in(), i);
  }
  out.length(k);
  return result._retn();
}

IDL::DoubleSeq* CFunction2DImpl::get_reduced_y_data(CORBA::ULong start, CORBA::ULong count,
                                                    CORBA::ULong blockSize) {
  const char* place = "CFunction2DImpl::get_reduced_y_data";
  CORBA::ULong first = 0, n = 0;
  IDL::RealValues_var values = mfYValues(start, count, first, n, place);
  blockSize = std::max<CORBA::ULong>(blockSize, 1);
  const CORBA::ULong blocks = n / blockSize + (n % blockSize != 0);
  const CORBA::ULong most = std::numeric_limits<CORBA::ULong>::max();
  CReplyLimit::sfCheck(blocks > most / 2 ? most : 2 * blocks, sizeof(double), place);
  CCallSlots::Slot slot(CCallSlots::sfLargeReplies(), place,
                        CCallSlots::sfIsLarge(2 * std::uint64_t{blocks} * sizeof(double)));

  IDL::DoubleSeq_var out = new IDL::DoubleSeq;
  CReplyLimit::sfSized(place, [&] { out->length(2 * blocks); });
  // Minimum and maximum of each block; NaN values are left out, and a block of nothing
  // else is NaN.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (CORBA::ULong b = 0; b < blocks; ++b) out[2 * b] = out[2 * b + 1] = nan;
  CORBA::ULong index = 0;  // of the next value in the chunk, from 0
  for (CORBA::ULong offset = 0; offset < n; offset += kReadChunk) {
    IDL::RealValueSeqUnion_var part =
        values->get_value_chunk(first + offset, std::min(kReadChunk, n - offset));
    const CORBA::ULong length = lengthOf(part.in());
    for (CORBA::ULong i = 0; i < length && index < n; ++i, ++index) {
      const double v = valueAt(part.in(), i);
      if (std::isnan(v)) continue;
      const CORBA::ULong b = index / blockSize;
      double& lo = out[2 * b];
      double& hi = out[2 * b + 1];
      if (std::isnan(lo) || v < lo) lo = v;
      if (std::isnan(hi) || v > hi) hi = v;
    }
    if (length == 0) break;
  }
  return out._retn();
}

IDL::RainflowResult* CFunction2DImpl::count_rainflow(const IDL::RainflowRequest& request) {
  const char* place = "CFunction2DImpl::count_rainflow";
  using Utility::raiseLogged;
  Analysis::RainflowSettings settings = mfRainflowSettings(request);
  const std::string problem = Analysis::mfSettingsProblem(settings);
  if (!problem.empty()) {
    raiseLogged<IDL::DBAccessException>("Unable to count the cycles: " + problem, "invalid rainflow request", place);
  }
  // The fixed part of the reply must fit before any value is read.
  const std::uint64_t classes = settings.mClasses;
  CReplyLimit::sfCheck(static_cast<CORBA::ULong>(classes * classes + 4 * classes), sizeof(double), place);
  raiseIfStopping(place);
  CCallSlots::Slot slot(CCallSlots::sfCounts(), place);
  CORBA::ULong first = 0, n = 0;
  IDL::RealValues_var values = mfYValues(1, std::numeric_limits<CORBA::ULong>::max(), first, n, place);
  try {
    if (!settings.mHasRange) {
      std::optional<Analysis::ValueRange> range;
      forEachChunk(values.in(), first, n, place, [&](const IDL::RealValueSeqUnion& part) {
        std::optional<Analysis::ValueRange> more;
        if (part._d() == IDL::DOUBLE_PRECISION) {
          more = Analysis::mfFiniteRange(part.double_sequence().get_buffer(), part.double_sequence().length());
        } else {
          const IDL::FloatSeq& floats = part.float_sequence();
          for (CORBA::ULong i = 0; i < floats.length(); ++i) {
            const double v = floats[i];
            if (!std::isfinite(v)) continue;
            if (!more) more = Analysis::ValueRange{v, v};
            more->mMin = std::min(more->mMin, v);
            more->mMax = std::max(more->mMax, v);
          }
        }
        Analysis::mpWiden(range, more);
      });
      settings.mHasRange = true;
      settings.mRangeMin = range ? range->mMin : 0;
      settings.mRangeMax = range ? range->mMax : 0;
    }
    Analysis::CParallelRainflowCounter counter = mfRainflowCounter(settings);
    forEachChunk(values.in(), first, n, place,
                 [&](const IDL::RealValueSeqUnion& part) { mpAddChunk(counter, part); });
    const Analysis::RainflowResult result = counter.mfFinish();
    const std::uint64_t doubles = mfRainflowReplyDoubles(result);
    const CORBA::ULong most = std::numeric_limits<CORBA::ULong>::max();
    CReplyLimit::sfCheck(doubles > most ? most : static_cast<CORBA::ULong>(doubles), sizeof(double), place);
    return mfRainflowReply(result);
  } catch (const std::length_error& e) {
    raiseLogged<IDL::DBAccessException>(std::string("Unable to count the cycles: ") + e.what(), "residue too long",
                                        place);
  } catch (const std::invalid_argument& e) {
    raiseLogged<IDL::DBAccessException>(std::string("Unable to count the cycles: ") + e.what(),
                                        "invalid rainflow request", place);
  } catch (const std::bad_alloc&) {
    CReplyLimit::sfRaiseOutOfMemory(place);
  }
}

IDL::MinMax CFunction2DImpl::get_x_min_max() {
  IDL::MinMax range{0.0, 0.0};
  IDL::FunctionValues_var values = get_values_by_index(0, IDL::X);
  IDL::RealValues_var real = realValues(values);
  if (CORBA::is_nil(real)) return range;
  CORBA::ULong n = real->get_number_of_values();
  if (n == 0) return range;
  IDL::RealValueSeqUnion_var first = real->get_value_chunk(1, 1);
  IDL::RealValueSeqUnion_var last = real->get_value_chunk(n, 1);
  const double a = valueAt(first.in(), 0);
  const double b = valueAt(last.in(), 0);
  range.min = std::min(a, b);
  range.max = std::max(a, b);
  return range;
}

IDL::StringSeq* CFunction2DImpl::get_axis_ids() {
  auto* ids = new IDL::StringSeq;
  ids->length(2);
  (*ids)[0] = "X";
  (*ids)[1] = "Y";
  return ids;
}

CORBA::UShort CFunction2DImpl::get_number_of_axes() { return 2; }

IDL::FunctionRecord_ptr CFunction2DImpl::get_function_record() {
  return IDL::FunctionRecord::_nil();
}

}  // namespace TamblixHq::NODRA::Framework
