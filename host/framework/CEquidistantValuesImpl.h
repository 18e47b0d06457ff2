// Base implementation of equidistant series (a time base): values computed from the
// number of values and the first value and spacing of get_equidistant_value_annotation,
// in double precision. Safe to share between threads once constructed.
#pragma once

#include "host/framework/CRealValuesImpl.h"

namespace TamblixHq::NODRA::Framework {

class CEquidistantValuesImpl : public virtual POA_TAMBLIX::NODRA::Framework::EquidistantValues,
                               public virtual CRealValuesImpl {
public:
  CEquidistantValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CEquidistantValuesImpl() override;

  IDL::PrecisionEnum get_precision() override;
  // First value 0, spacing 1, unless a derived servant knows better.
  IDL::EquidistantValues::EquidistantValueAnnotation get_equidistant_value_annotation() override;
  // Value k (from 1) is first + (k - 1) * spacing, as doubles; chunk rules of sfClipChunk.
  IDL::RealValueSeqUnion* get_value_chunk(CORBA::ULong start, CORBA::ULong count) override;
};

}  // namespace TamblixHq::NODRA::Framework
