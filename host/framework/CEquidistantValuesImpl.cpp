#include "host/framework/CEquidistantValuesImpl.h"

#include <cstdint>

#include "host/framework/CCallSlots.h"
#include "host/framework/CReplyLimit.h"

namespace TamblixHq::NODRA::Framework {

CEquidistantValuesImpl::CEquidistantValuesImpl(const IDL::ObjectId* id,
                                               PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CFunctionValuesImpl(id, poa), CRealValuesImpl(id, poa) {}

CEquidistantValuesImpl::~CEquidistantValuesImpl() = default;

IDL::PrecisionEnum CEquidistantValuesImpl::get_precision() { return IDL::DOUBLE_PRECISION; }

IDL::EquidistantValues::EquidistantValueAnnotation
CEquidistantValuesImpl::get_equidistant_value_annotation() {
  IDL::EquidistantValues::EquidistantValueAnnotation annotation;
  annotation.first_value = 0.0;
  annotation.spacing = 1.0;
  return annotation;
}

IDL::RealValueSeqUnion* CEquidistantValuesImpl::get_value_chunk(CORBA::ULong start,
                                                                CORBA::ULong count) {
  CORBA::ULong first = 0;
  CORBA::ULong n = 0;
  sfClipChunk(start, count, mfGetValueCount(), first, n);
  CReplyLimit::sfCheck(n, sizeof(double), "CEquidistantValuesImpl::get_value_chunk");
  CCallSlots::Slot slot(CCallSlots::sfLargeReplies(), "CEquidistantValuesImpl::get_value_chunk",
                        CCallSlots::sfIsLarge(std::uint64_t{n} * sizeof(double)));
  IDL::EquidistantValues::EquidistantValueAnnotation axis = get_equidistant_value_annotation();

  IDL::RealValueSeqUnion_var result = new IDL::RealValueSeqUnion;
  result->double_sequence(IDL::DoubleSeq());
  IDL::DoubleSeq& values = result->double_sequence();
  CReplyLimit::sfSized("CEquidistantValuesImpl::get_value_chunk", [&] { values.length(n); });
  // Each value from its own index, so that no rounding error accumulates over a long record.
  for (CORBA::ULong i = 0; i < n; ++i) {
    values[i] = axis.first_value + static_cast<double>(first - 1 + i) * axis.spacing;
  }
  return result._retn();
}

}  // namespace TamblixHq::NODRA::Framework
