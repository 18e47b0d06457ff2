#include "host/framework/CFunctionValuesImpl.h"

#include <limits>
#include <string>

#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Framework {

CFunctionValuesImpl::CFunctionValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa) {}

CFunctionValuesImpl::~CFunctionValuesImpl() = default;

CORBA::ULong CFunctionValuesImpl::get_number_of_values() {
  if (mNumberOfValues > std::numeric_limits<CORBA::ULong>::max()) {
    Utility::raiseLogged<IDL::DBAccessException>(
        "The values are too many to count: " + std::to_string(mNumberOfValues) +
            " are more than the interface's 32-bit count carries; read them by position",
        "number of values beyond 32 bits", "CFunctionValuesImpl::get_number_of_values");
  }
  return static_cast<CORBA::ULong>(mNumberOfValues);
}

IDL::PrecisionEnum CFunctionValuesImpl::get_precision() { return IDL::SINGLE_PRECISION; }

IDL::Quantity_ptr CFunctionValuesImpl::get_quantity() { return IDL::Quantity::_nil(); }

IDL::Quantity_ptr CFunctionValuesImpl::get_user_quantity() { return get_quantity(); }

}  // namespace TamblixHq::NODRA::Framework
