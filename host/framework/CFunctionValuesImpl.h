// Base implementation of the values of one axis of a function: the number of values,
// which the derived servant sets at construction, and the precision. Safe to share
// between threads once constructed.
#pragma once

#include <cstdint>

#include "host/framework/CBaseImpl.h"

namespace TamblixHq::NODRA::Framework {

class CFunctionValuesImpl : public virtual POA_TAMBLIX::NODRA::Framework::FunctionValues,
                            public virtual CBaseImpl {
public:
  CFunctionValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CFunctionValuesImpl() override;

  // The count; a count beyond 32 bits is refused with a DBAccessException, not wrapped.
  CORBA::ULong get_number_of_values() override;
  IDL::PrecisionEnum get_precision() override;
  // The base knows no quantity: nil.
  IDL::Quantity_ptr get_quantity() override;
  // No user quantity is configured in this server: the values' own quantity.
  IDL::Quantity_ptr get_user_quantity() override;

  // The exact count, for the servant's own clipping.
  std::uint64_t mfGetValueCount() const { return mNumberOfValues; }

protected:
  std::uint64_t mNumberOfValues = 0;  // written once by the derived constructor
};

}  // namespace TamblixHq::NODRA::Framework
