#include "rpc3/servants/CRPC3ChannelImpl.h"

#include <cmath>
#include <limits>

#include "host/utility/RaiseLogged.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Utility::CStringU;

CRPC3ChannelImpl::CRPC3ChannelImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CBrowsableImpl(id, poa),
      CFunction2DImpl(id, poa),
      mHeader(*id) {}

CRPC3ChannelImpl::~CRPC3ChannelImpl() = default;

IDL::FunctionValues_ptr CRPC3ChannelImpl::get_values_by_index(CORBA::UShort,
                                                              IDL::AxisEnum axis) {
  try {
    IDL::ObjectId_var id = get_object_id();
    return getChannelValues(id.in(), axis);
  } catch (...) {
    Utility::raiseLogged<IDL::DBAccessException>("Unable to get the values",
                                                 "get_values_by_index failed",
                                                 "CRPC3ChannelImpl::get_values_by_index");
  }
}

IDL::FunctionValues_ptr CRPC3ChannelImpl::get_values_by_id(const char*, IDL::AxisEnum axis) {
  return get_values_by_index(0, axis);
}

IDL::FunctionRecord_ptr CRPC3ChannelImpl::get_function_record() {
  try {
    IDL::ObjectId_var id = get_object_id();
    return getChannelFunctionRecord(id.in());
  } catch (...) {
    Utility::raiseLogged<IDL::DBAccessException>("Unable to get function record for RPC3Channel",
                                                 "_narrow failed",
                                                 "CRPC3ChannelImpl::get_function_record()");
  }
}

void CRPC3ChannelImpl::mpFillAnnotationContainer() {
  if (!mAnnotationsFilled) {
    IDL::AnnotationSeq_var annotations = getChannelAnnotations(*mHeader, mfGetId());
    for (CORBA::ULong i = 0; i < annotations->length(); ++i) {
      mpAddAnnotation(annotations[i].definition, annotations[i].value);
    }
    mAnnotationsFilled = true;
  }
  CFunction2DImpl::mpFillAnnotationContainer();
}

CORBA::Long getChannelLimit(const CStringU& text) {
  // Limits are written in E-notation ("-1.00000000E+03"), which an integer reading would
  // stop at the point: read the number, then truncate it toward zero, saturating.
  const double value = std::trunc(text.mfGetDouble());
  if (std::isnan(value)) return 0;
  if (value <= static_cast<double>(std::numeric_limits<CORBA::Long>::min())) {
    return std::numeric_limits<CORBA::Long>::min();
  }
  if (value >= static_cast<double>(std::numeric_limits<CORBA::Long>::max())) {
    return std::numeric_limits<CORBA::Long>::max();
  }
  return static_cast<CORBA::Long>(value);
}

IDL::AnnotationSeq* getChannelAnnotations(const CRPC3Header& header,
                                          const IDL::ObjectId& channelId) {
  enum Kind { kString, kLong, kLimit, kDouble };
  struct Row {
    const char* name;
    const char* prefix;
    Kind kind;
  };
  static const Row rows[] = {
      {"description", "DESC.CHAN_", kString},     {"lower_limit", "LOWER_LIMIT.CHAN_", kLimit},
      {"upper_limit", "UPPER_LIMIT.CHAN_", kLimit}, {"map", "MAP.CHAN_", kLong},
      {"units", "UNITS.CHAN_", kString},          {"scale", "SCALE.CHAN_", kDouble},
  };
  IDL::AnnotationSeq_var annotations = new IDL::AnnotationSeq(6);
  annotations->length(6);
  for (CORBA::ULong i = 0; i < 6; ++i) {
    const Row& row = rows[i];
    CStringU keyword(row.prefix);
    keyword.mfAddString(channelId.index);
    CStringU value = header.mfGetKeywordValue(keyword);
    IDL::Annotation& a = annotations[i];
    a.definition.name = row.name;
    a.definition.group = "";
    a.definition.owner_type = kChannelType;
    switch (row.kind) {
      case kString: a.value.string_value(value.mfGetString()); break;
      case kLong: a.value.long_value(value.mfGetLong()); break;
      case kLimit: a.value.long_value(getChannelLimit(value)); break;
      case kDouble: a.value.double_value(value.mfGetDouble()); break;
    }
  }
  return annotations._retn();
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
