// Servant of one channel of an RPC III file: a two-dimensional function whose values
// objects (time on X, samples on Y) and function record it resolves on demand, with six
// annotations from the header. Safe to share between threads.
#pragma once

#include "host/framework/CFunction2DImpl.h"
#include "rpc3/format/CRPC3HeaderLease.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CRPC3ChannelImpl : public virtual Framework::CFunction2DImpl {
public:
  // Acquires the file's header; throws its DBAccessException when it cannot be read.
  CRPC3ChannelImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CRPC3ChannelImpl() override;
  CRPC3ChannelImpl() = delete;
  CRPC3ChannelImpl(const CRPC3ChannelImpl&) = delete;
  CRPC3ChannelImpl& operator=(const CRPC3ChannelImpl&) = delete;

  // Axis 0: the time base; axis 1: the samples. The index and the id text are not used.
  IDL::FunctionValues_ptr get_values_by_id(const char* id, IDL::AxisEnum axis) override;
  IDL::FunctionValues_ptr get_values_by_index(CORBA::UShort index, IDL::AxisEnum axis) override;
  IDL::FunctionRecord_ptr get_function_record() override;

protected:
  // Adds the six channel annotations once, then runs the base's hook.
  void mpFillAnnotationContainer() override;

private:
  bool mAnnotationsFilled = false;  // guarded by the base's fill serialisation
  CRPC3HeaderLease mHeader;         // the file's shared header, held for the servant's life
};

// The six annotations of a channel (description, lower_limit, upper_limit, map, units,
// scale) from the header, for the channel number in identifier field 9. New; caller owns.
IDL::AnnotationSeq* getChannelAnnotations(const CRPC3Header& header,
                                          const IDL::ObjectId& channelId);

// A channel limit text as a 32-bit integer: the number it writes ("-1.00000000E+03",
// "-13.8", "250"), truncated toward zero and saturated; not a number gives 0.
CORBA::Long getChannelLimit(const Utility::CStringU& text);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
