// Servant of the quantity of a channel's axis: seconds for the time base (X), and for the
// samples (Y) the unit catalogue's reading of the channel's "UNITS.CHAN_" text, or the
// catalogue's "unknown" quantity. Built whole by its constructor; safe to share between
// threads.
#pragma once

#include "host/framework/CQuantityImpl.h"
#include "host/utility/CStringU.h"
#include "rpc3/format/CRPC3Header.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CRPC3QuantityImpl : public virtual Framework::CQuantityImpl {
public:
  // Axis X (identifier field 8 "X") never touches the file; any other axis reads the header
  // (held only while constructing) and throws its DBAccessException when it cannot be read.
  CRPC3QuantityImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CRPC3QuantityImpl() override;
  CRPC3QuantityImpl() = delete;
  CRPC3QuantityImpl(const CRPC3QuantityImpl&) = delete;
  CRPC3QuantityImpl& operator=(const CRPC3QuantityImpl&) = delete;
};

// The quantity annotation of an axis of a channel (number text as in identifier field 9),
// the same as its quantity object answers: for X the unit "s", transform (0, 1, 1) and the
// single term time^1/1; for Y the catalogue's reading of the channel's units, or "unknown".
// New; the caller owns it.
IDL::Quantity::QuantityAnnotation* getQuantityAnnotation(const CRPC3Header& header,
                                                         const Utility::CStringU& channelText,
                                                         IDL::AxisEnum axis);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
