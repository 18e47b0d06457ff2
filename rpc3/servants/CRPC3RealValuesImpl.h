// Servant of a channel's sampled values (axis Y): reads any chunk of the channel's samples
// frame by frame, decodes them and scales them to floats. Keeps no state between calls;
// safe to share between threads.
#pragma once

#include <cstdint>

#include "host/framework/CRealValuesImpl.h"
#include "host/utility/CFileU.h"
#include "rpc3/format/RPC3Layout.h"
#include "rpc3/format/RPC3SampleCoding.h"
#include "rpc3/servants/CRPC3FunctionValuesImpl.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

class CRPC3RealValuesImpl : public virtual Framework::CRealValuesImpl,
                            public virtual CRPC3FunctionValuesImpl {
public:
  CRPC3RealValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CRPC3RealValuesImpl() override;

  // count values from value start (from 1; 0 reads as 1), clipped to the channel's values,
  // as scaled floats. Empty past the end; refuses a layout that cannot address the channel
  // (whatever the count) and more values than one reply can carry.
  IDL::RealValueSeqUnion* get_value_chunk(CORBA::ULong start, CORBA::ULong count) override;

};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
