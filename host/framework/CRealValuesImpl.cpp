#include "host/framework/CRealValuesImpl.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "host/framework/CCallSlots.h"
#include "host/framework/CReplyLimit.h"
#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

namespace {

using Utility::raiseLogged;

// Positions closer than this to the one before are read in the same chunk, as are at most
// kSpan values in one chunk.
constexpr CORBA::ULong kGap = 1024;
constexpr CORBA::ULong kSpan = 65536;

// Value `i` of `chunk` into position `at` of `result`, which takes the chunk's branch.
void putValue(IDL::RealValueSeqUnion& result, CORBA::ULong at, const IDL::RealValueSeqUnion& chunk, CORBA::ULong i) {
  if (chunk._d() == IDL::DOUBLE_PRECISION) {
    result.double_sequence()[at] = chunk.double_sequence()[i];
  } else {
    result.float_sequence()[at] = chunk.float_sequence()[i];
  }
}

}  // namespace

CRealValuesImpl::CRealValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CFunctionValuesImpl(id, poa) {}

CRealValuesImpl::~CRealValuesImpl() = default;

void CRealValuesImpl::sfClipChunk(CORBA::ULong start, CORBA::ULong count, std::uint64_t total,
                                  CORBA::ULong& first, CORBA::ULong& clipped) {
  first = start == 0 ? 1 : start;
  if (first > total || count == 0) {
    clipped = 0;
    return;
  }
  const std::uint64_t available = total - first + 1;
  clipped = count < available ? count : static_cast<CORBA::ULong>(available);
}

IDL::RealValueSeqUnion* CRealValuesImpl::get_values() {
  return get_value_chunk(1, get_number_of_values());
}

IDL::RealValueSeqUnion* CRealValuesImpl::get_specific_values(const IDL::IndexSeq& indices) {
  const char* place = "CRealValuesImpl::get_specific_values";
  const std::uint64_t total = mfGetValueCount();
  const CORBA::ULong n = indices.length();
  if (n > kMaxSpecificValues) {
    raiseLogged<IDL::DBAccessException>("Too many values requested: " + std::to_string(n) +
                                            " positions in one call (at most " +
                                            std::to_string(kMaxSpecificValues) + "); ask in smaller sets",
                                        "too many positions", place);
  }
  CReplyLimit::sfCheck(n, sizeof(double), place);
  CCallSlots::Slot slot(CCallSlots::sfLargeReplies(), place, CCallSlots::sfIsLarge(std::uint64_t{n} * sizeof(double)));
  for (CORBA::ULong i = 0; i < n; ++i) {
    if (indices[i] == 0 || indices[i] > total) {
      raiseLogged<IDL::DBAccessException>("Value " + std::to_string(indices[i]) + " is outside the values 1 to " +
                                              std::to_string(total),
                                          "index out of range", place);
    }
  }
  // The positions in increasing order, each with where its value goes.
  std::vector<CORBA::ULong> order(n);
  std::iota(order.begin(), order.end(), CORBA::ULong{0});
  std::stable_sort(order.begin(), order.end(), [&](CORBA::ULong a, CORBA::ULong b) { return indices[a] < indices[b]; });

  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  bool sized = false;
  for (CORBA::ULong k = 0; k < n;) {
    const CORBA::ULong first = indices[order[k]];
    CORBA::ULong last = first, j = k + 1;
    while (j < n && indices[order[j]] - last <= kGap && indices[order[j]] - first < kSpan) last = indices[order[j++]];
    IDL::RealValueSeqUnion_var chunk = get_value_chunk(first, last - first + 1);
    const CORBA::ULong got = chunk->_d() == IDL::DOUBLE_PRECISION ? chunk->double_sequence().length()
                                                                    : chunk->float_sequence().length();
    if (got != last - first + 1) {
      raiseLogged<IDL::DBAccessException>("Unable to read value " + std::to_string(last), "short chunk", place);
    }
    if (!sized) {
      CReplyLimit::sfSized(place, [&] {
        if (chunk->_d() == IDL::DOUBLE_PRECISION) {
          result->double_sequence(IDL::DoubleSeq());
          result->double_sequence().length(n);
        } else {
          result->float_sequence(IDL::FloatSeq());
          result->float_sequence().length(n);
        }
      });
      sized = true;
    }
    for (; k < j; ++k) putValue(result.inout(), order[k], chunk.in(), indices[order[k]] - first);
  }
  if (!sized) result->float_sequence(IDL::FloatSeq());
  return result._retn();
}

}  // namespace TamblixHq::NODRA::Framework
