#include "rpc3/servants/RPC3ObjectIdentity.h"

#include <memory>

#include "host/framework/CResolverImpl.h"
#include "host/utility/CObjectIdU.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Framework::CResolverImpl;
using Utility::CObjectIdU;
using Utility::CStringU;

namespace {

const char* axisText(IDL::AxisEnum axis) {
  switch (static_cast<int>(axis)) {
    case 0: return "X";
    case 1: return "Y";
    default: return "";
  }
}

// A reference to the parent's identifier with field 5 replaced by `type` and, when `axis`
// is not null, field 8 by `axis`; its servant is built at the first call on it. The built
// identifier is freed on every path.
CORBA::Object_ptr resolveDerived(const IDL::ObjectId& parent, const char* type,
                                 const char* axis) {
  CObjectIdU builder;
  std::unique_ptr<IDL::ObjectId> id(builder.mfGetCorrectObjectId(
      parent.access_point, parent.sub_directory, parent.file_name, parent.driver, parent.domain,
      type, parent.item, parent.label, axis ? axis : static_cast<const char*>(parent.axis),
      parent.index, parent.extension));
  IDL::Base_var object = CResolverImpl::sfGetResolverImpl()->mfReference(*id);
  return CORBA::Object::_duplicate(object.in());
}

}  // namespace

IDL::ObjectId* getChannelObjectId(const IDL::ObjectId& fileId, CORBA::ULong channel,
                                  const CStringU& label) {
  CStringU number;
  number.mfAddLong(channel);
  CObjectIdU builder;
  return builder.mfGetCorrectObjectId(fileId.access_point, fileId.sub_directory,
                                      fileId.file_name, fileId.driver, fileId.domain,
                                      kChannelType, "", label.mfGetString(), fileId.axis,
                                      number.mfGetString(), fileId.extension);
}

IDL::FunctionValues_ptr getChannelValues(const IDL::ObjectId& channelId, IDL::AxisEnum axis) {
  const char* type = "";
  if (static_cast<int>(axis) == 0) type = kEquidistantValuesType;
  if (static_cast<int>(axis) == 1) type = kRealValuesType;
  CORBA::Object_var object = resolveDerived(channelId, type, axisText(axis));
  return IDL::FunctionValues::_unchecked_narrow(object);
}

IDL::Quantity_ptr getAxisQuantity(const IDL::ObjectId& id, IDL::AxisEnum axis) {
  CORBA::Object_var object = resolveDerived(id, kQuantityType, axisText(axis));
  return IDL::Quantity::_unchecked_narrow(object);
}

IDL::FunctionRecord_ptr getChannelFunctionRecord(const IDL::ObjectId& channelId) {
  CORBA::Object_var object = resolveDerived(channelId, kFunctionRecordType, nullptr);
  return IDL::FunctionRecord::_unchecked_narrow(object);
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
