// Servant of a channel's sampled values (axis Y): reads any chunk of the channel's samples
// frame by frame, decodes them and scales them to floats. Keeps no sample data between
// calls; what its header says of the channel (layout, scale) is learnt at the first call.
// Safe to share between threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "host/files/CBinaryFilePtrConnID.h"
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

private:
  // What every read of the channel needs from the header, which the servant's lease keeps
  // as it is for its life.
  struct Reading {
    std::string channelText;  // identifier field 9
    std::int64_t channel = 0;
    RPC3Layout layout;
    std::optional<std::string> problem;  // why the layout cannot address the channel
    float scale = 1;
    std::optional<Framework::CBinaryFilePtrConnID> connection;
  };
  const Reading& mfReading();

  std::once_flag mReadingOnce;
  Reading mReading;
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
