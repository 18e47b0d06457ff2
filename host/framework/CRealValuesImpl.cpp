#include "host/framework/CRealValuesImpl.h"

#include <string>

#include "host/framework/CReplyLimit.h"
#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

namespace {

using Utility::raiseLogged;

template <class Sequence>
void appendTo(Sequence& out, const Sequence& in) {
  CORBA::ULong n = out.length();
  out.length(n + in.length());
  for (CORBA::ULong i = 0; i < in.length(); ++i) out[n + i] = in[i];
}

// Appends the values of `part` to `result`, which takes the branch of the first part.
void append(IDL::RealValueSeqUnion& result, bool& started, const IDL::RealValueSeqUnion& part) {
  if (part._d() == IDL::DOUBLE_PRECISION) {
    if (!started) result.double_sequence(IDL::DoubleSeq());
    appendTo(result.double_sequence(), part.double_sequence());
  } else {
    if (!started) result.float_sequence(IDL::FloatSeq());
    appendTo(result.float_sequence(), part.float_sequence());
  }
  started = true;
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
  CReplyLimit::sfCheck(indices.length(), sizeof(double), place);
  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  bool started = false;
  CORBA::ULong i = 0;
  while (i < indices.length()) {
    CORBA::ULong first = indices[i];
    if (first == 0 || first > total) {
      raiseLogged<IDL::DBAccessException>("Value " + std::to_string(first) + " is outside the values 1 to " +
               std::to_string(total),
           "index out of range", place);
    }
    CORBA::ULong run = 1;
    while (i + run < indices.length() && indices[i + run] == first + run && first + run <= total)
      ++run;
    IDL::RealValueSeqUnion_var part = get_value_chunk(first, run);
    CReplyLimit::sfSized(place, [&] { append(result.inout(), started, part.in()); });
    i += run;
  }
  if (!started) result->float_sequence(IDL::FloatSeq());
  return result._retn();
}

}  // namespace TamblixHq::NODRA::Framework
