#include "host/framework/CFunctionValuesImpl.h"

namespace TamblixHq::NODRA::Framework {

CFunctionValuesImpl::CFunctionValuesImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa) {}

CFunctionValuesImpl::~CFunctionValuesImpl() = default;

CORBA::ULong CFunctionValuesImpl::get_number_of_values() { return mNumberOfValues; }

IDL::PrecisionEnum CFunctionValuesImpl::get_precision() { return IDL::SINGLE_PRECISION; }

IDL::Quantity_ptr CFunctionValuesImpl::get_quantity() { return IDL::Quantity::_nil(); }

IDL::Quantity_ptr CFunctionValuesImpl::get_user_quantity() { return get_quantity(); }

}  // namespace TamblixHq::NODRA::Framework
