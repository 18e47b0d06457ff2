// What the two values objects of a channel share: the file's header, held for the
// servant's life, the number of values ("FRAMES" x "PTS_PER_FRAME"), the precision and
// the way to the quantity of the axis. Safe to share between threads once constructed.
#pragma once

#include <cstdint>

#include "host/framework/CFunctionValuesImpl.h"
#include "rpc3/format/CRPC3HeaderLease.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CRPC3FunctionValuesImpl : public virtual Framework::CFunctionValuesImpl {
public:
  ~CRPC3FunctionValuesImpl() override;
  CRPC3FunctionValuesImpl(const CRPC3FunctionValuesImpl&) = delete;
  CRPC3FunctionValuesImpl& operator=(const CRPC3FunctionValuesImpl&) = delete;

  IDL::PrecisionEnum get_precision() override;  // single precision
  // The quantity object of the axis in identifier field 8: "X" gives X, anything else Y.
  IDL::Quantity_ptr get_quantity() override;

protected:
  // Acquires the file's header; throws its DBAccessException when it cannot be read.
  CRPC3FunctionValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);

  CRPC3HeaderLease mHeader;  // the file's shared header, held for the servant's life
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
