// Base implementation of real-valued series: whole and selective reads answered through
// the derived servant's get_value_chunk, and the chunk rules every series shares.
// Safe to share between threads once constructed.
#pragma once

#include "host/framework/CFunctionValuesImpl.h"

namespace TamblixHq::NODRA::Framework {

class CRealValuesImpl : public virtual POA_TAMBLIX::NODRA::Framework::RealValues,
                        public virtual CFunctionValuesImpl {
public:
  CRealValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CRealValuesImpl() override;

  // All values, as one chunk.
  IDL::RealValueSeqUnion* get_values() override;
  // The most positions one get_specific_values call may ask for.
  static constexpr CORBA::ULong kMaxSpecificValues = 262144;

  // Values at positions counted from 1, in the order asked. The positions are read in
  // increasing order, those close to each other in one chunk, so that a scattered set costs
  // about what reading its span costs. At most kMaxSpecificValues positions a call.
  IDL::RealValueSeqUnion* get_specific_values(const IDL::IndexSeq& indices) override;

  // The values [first, first + count) a chunk request (start, count) selects from a series
  // of `total` values: a start of 0 reads as 1, the count is clipped to the end, and a
  // start past the end or a count of 0 selects nothing (count 0).
  static void sfClipChunk(CORBA::ULong start, CORBA::ULong count, std::uint64_t total,
                          CORBA::ULong& first, CORBA::ULong& clipped);
};

}  // namespace TamblixHq::NODRA::Framework
