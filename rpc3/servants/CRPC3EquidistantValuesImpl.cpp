#include "rpc3/servants/CRPC3EquidistantValuesImpl.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

CRPC3EquidistantValuesImpl::CRPC3EquidistantValuesImpl(const IDL::ObjectId* id,
                                                       PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CFunctionValuesImpl(id, poa),
      CRealValuesImpl(id, poa),
      CEquidistantValuesImpl(id, poa),
      CRPC3FunctionValuesImpl(id, poa),
      CRPC3RealValuesImpl(id, poa) {}

CRPC3EquidistantValuesImpl::~CRPC3EquidistantValuesImpl() = default;

IDL::PrecisionEnum CRPC3EquidistantValuesImpl::get_precision() {
  return IDL::DOUBLE_PRECISION;
}

IDL::EquidistantValues::EquidistantValueAnnotation
CRPC3EquidistantValuesImpl::get_equidistant_value_annotation() {
  IDL::EquidistantValues::EquidistantValueAnnotation annotation;
  annotation.first_value = 0.0;
  annotation.spacing = mHeader->mfGetKeywordValue("DELTA_T").mfGetDouble();
  if (annotation.spacing == 0.0) annotation.spacing = 1.0;
  return annotation;
}

IDL::RealValueSeqUnion* CRPC3EquidistantValuesImpl::get_value_chunk(CORBA::ULong start,
                                                                    CORBA::ULong count) {
  return CEquidistantValuesImpl::get_value_chunk(start, count);
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
