// Base implementation of measurement function records: how a function was measured (date,
// sampling frequency, channel, measurement point and direction), held as one annotation
// that the derived servant replaces while it is constructed. Safe to share between threads
// once constructed.
#pragma once

#include <memory>

#include "host/framework/CFunctionRecordImpl.h"

namespace TamblixHq::NODRA::Framework {

class CMeasurementFunctionRecordImpl
    : public virtual POA_TAMBLIX::NODRA::Framework::MeasurementFunctionRecord,
      public virtual CFunctionRecordImpl {
public:
  CMeasurementFunctionRecordImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CMeasurementFunctionRecordImpl() override;

  IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation*
  get_measurement_function_record_annotation() override;

protected:
  // Also makes the measurement annotation the default of the class.
  void mpSetFunctionClass(IDL::FunctionRecord::FunctionClassEnum functionClass) override;
  // Adds, once, the description's members as annotations ("date", "sampling_frequency",
  // "channel_number", "point_name", "point_direction") after the base's, then runs the
  // base's hook.
  void mpFillAnnotationContainer() override;

  // The measurement annotation this object answers with; never null. The derived
  // constructor may replace it.
  std::unique_ptr<IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation>
      mMeasurementAnnotation;

private:
  bool mAnnotationsFilled = false;  // guarded by the base's fill serialisation
};

// The default measurement annotation of a function class: the class and its name as in
// getFunctionRecordAnnotation; a description with the empty date text, one average, a
// sampling frequency of 0, channel 0, no point name and no direction. New; caller owns.
IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation*
getMeasurementFunctionRecordAnnotation(IDL::FunctionRecord::FunctionClassEnum functionClass);

}  // namespace TamblixHq::NODRA::Framework
