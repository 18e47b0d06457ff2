#include "host/framework/CMeasurementFunctionRecordImpl.h"

namespace TamblixHq::NODRA::Framework {

using Measurement = IDL::MeasurementFunctionRecord;

Measurement::MeasurementFunctionRecordAnnotation* getMeasurementFunctionRecordAnnotation(
    IDL::FunctionRecord::FunctionClassEnum functionClass) {
  std::unique_ptr<IDL::FunctionRecord::FunctionRecordAnnotation> record(
      getFunctionRecordAnnotation(functionClass));
  auto* annotation = new Measurement::MeasurementFunctionRecordAnnotation;
  annotation->function_class = functionClass;
  annotation->name = record->name;
  Measurement::MeasurementFunctionRecordDescription& d = annotation->description;
  d.date.date_string("");
  d.number_of_averages = 1;
  d.sampling_frequency = 0.0;
  d.channel_number = 0;
  d.point_name = "";
  d.point_direction = Measurement::NO_DIRECTION;
  d.comment = "";
  return annotation;
}

CMeasurementFunctionRecordImpl::CMeasurementFunctionRecordImpl(const IDL::ObjectId* id,
                                                               PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa),
      CFunctionRecordImpl(id, poa),
      mMeasurementAnnotation(getMeasurementFunctionRecordAnnotation(mfGetFunctionClass())) {}

CMeasurementFunctionRecordImpl::~CMeasurementFunctionRecordImpl() = default;

Measurement::MeasurementFunctionRecordAnnotation*
CMeasurementFunctionRecordImpl::get_measurement_function_record_annotation() {
  return new Measurement::MeasurementFunctionRecordAnnotation(*mMeasurementAnnotation);
}

void CMeasurementFunctionRecordImpl::mpSetFunctionClass(
    IDL::FunctionRecord::FunctionClassEnum functionClass) {
  CFunctionRecordImpl::mpSetFunctionClass(functionClass);
  mMeasurementAnnotation.reset(getMeasurementFunctionRecordAnnotation(functionClass));
}

void CMeasurementFunctionRecordImpl::mpFillAnnotationContainer() {
  if (!mAnnotationsFilled) {
    const Measurement::MeasurementFunctionRecordDescription& d = mMeasurementAnnotation->description;
    IDL::DSVariantUnion value;
    if (d.date._d() == 0) {
      value.long_value(d.date.time_value());
    } else {
      value.string_value(d.date.date_string());
    }
    mpAddAnnotation("date", value);
    value.double_value(d.sampling_frequency);
    mpAddAnnotation("sampling_frequency", value);
    value.long_value(d.channel_number);
    mpAddAnnotation("channel_number", value);
    value.string_value(d.point_name);
    mpAddAnnotation("point_name", value);
    value.long_value(static_cast<CORBA::Long>(d.point_direction));
    mpAddAnnotation("point_direction", value);
    mAnnotationsFilled = true;
  }
  CFunctionRecordImpl::mpFillAnnotationContainer();
}

}  // namespace TamblixHq::NODRA::Framework
