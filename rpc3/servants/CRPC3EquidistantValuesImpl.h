// Servant of a channel's time base (axis X): as many values as the samples, starting at
// 0 s and spaced by "DELTA_T", computed by the framework base. Safe to share between threads.
#pragma once

#include "host/framework/CEquidistantValuesImpl.h"
#include "rpc3/servants/CRPC3RealValuesImpl.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

class CRPC3EquidistantValuesImpl : public virtual Framework::CEquidistantValuesImpl,
                                   public virtual CRPC3RealValuesImpl {
public:
  CRPC3EquidistantValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CRPC3EquidistantValuesImpl() override;

  IDL::PrecisionEnum get_precision() override;  // double precision
  // First value 0.0; spacing "DELTA_T", or 1.0 when it reads as 0.
  IDL::EquidistantValues::EquidistantValueAnnotation get_equidistant_value_annotation() override;
  IDL::RealValueSeqUnion* get_value_chunk(CORBA::ULong start, CORBA::ULong count) override;
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
