#include "rpc3/servants/CRPC3FunctionValuesImpl.h"

#include "host/utility/RaiseLogged.h"
#include "rpc3/format/RPC3Layout.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Utility::CStringU;

CRPC3FunctionValuesImpl::CRPC3FunctionValuesImpl(const IDL::ObjectId* id,
                                                 PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CFunctionValuesImpl(id, poa),
      mHeader(*id) {
  mNumberOfValues = getNumberOfValues(*mHeader);
}

CRPC3FunctionValuesImpl::~CRPC3FunctionValuesImpl() = default;

IDL::PrecisionEnum CRPC3FunctionValuesImpl::get_precision() { return IDL::SINGLE_PRECISION; }

IDL::Quantity_ptr CRPC3FunctionValuesImpl::get_quantity() {
  try {
    IDL::ObjectId_var id = get_object_id();
    IDL::AxisEnum axis = CStringU(id->axis).mfCompare("X") == 0 ? IDL::X : IDL::Y;
    return getAxisQuantity(id.in(), axis);
  } catch (...) {
    Utility::raiseLogged<IDL::DBAccessException>(
        "Unable to get quantity for CRPC3FunctionValuesImpl", "_narrow failed",
        "CRPC3FunctionValuesImpl::get_quantity()");
  }
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
