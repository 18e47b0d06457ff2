// The framework's function records: defaults by function class, and the annotations a
// generic client reads from a measurement record.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "host/framework/CMeasurementFunctionRecordImpl.h"

namespace {

namespace FW = TamblixHq::NODRA::Framework;
namespace IDL = ::TAMBLIX::NODRA::Framework;

// A record whose class and description a test sets, as a driver's constructor does.
class Record : public FW::CMeasurementFunctionRecordImpl {
public:
  explicit Record(const IDL::ObjectId* id)
      : CBaseImpl(id, PortableServer::POA::_nil()),
        CFunctionRecordImpl(id, PortableServer::POA::_nil()),
        CMeasurementFunctionRecordImpl(id, PortableServer::POA::_nil()) {
    mpSetFunctionClass(IDL::FunctionRecord::SAMPLED_TIME_HISTORY);
    mMeasurementAnnotation->description.channel_number = 7;
    mMeasurementAnnotation->description.sampling_frequency = 512.0;
    mMeasurementAnnotation->description.date.time_value(1236853230);
  }
};

TEST(FunctionRecords, DefaultsFollowTheFunctionClass) {
  std::unique_ptr<IDL::FunctionRecord::FunctionRecordAnnotation> record(
      FW::getFunctionRecordAnnotation(IDL::FunctionRecord::SAMPLED_TIME_HISTORY));
  EXPECT_EQ(record->function_class, IDL::FunctionRecord::SAMPLED_TIME_HISTORY);
  EXPECT_STREQ(record->name, "sampled time history");
  std::unique_ptr<IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation> measured(
      FW::getMeasurementFunctionRecordAnnotation(IDL::FunctionRecord::HISTOGRAM));
  EXPECT_EQ(measured->function_class, IDL::FunctionRecord::HISTOGRAM);
  EXPECT_STREQ(measured->name, "histogram");
  EXPECT_EQ(measured->description.date._d(), 1);
  EXPECT_STREQ(measured->description.date.date_string(), "");
  EXPECT_EQ(measured->description.number_of_averages, 1);
  EXPECT_EQ(measured->description.point_direction, IDL::MeasurementFunctionRecord::NO_DIRECTION);
}

TEST(FunctionRecords, AMeasurementRecordAnswersItsClassAndDescriptionAsAnnotationsOnce) {
  IDL::ObjectId id;
  id.type_id = "Record";
  Record record(&id);
  IDL::FunctionRecord::FunctionRecordAnnotation_var general = record.get_function_record_annotation();
  EXPECT_EQ(general->function_class, IDL::FunctionRecord::SAMPLED_TIME_HISTORY);
  IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation_var measured =
      record.get_measurement_function_record_annotation();
  EXPECT_EQ(measured->description.channel_number, 7);

  for (int ask = 0; ask < 2; ++ask) {
    IDL::AnnotationSeq_var all = record.get_all_annotations();
    std::map<std::string, const IDL::Annotation*> byName;
    for (CORBA::ULong i = 0; i < all->length(); ++i) {
      EXPECT_STREQ(all[i].definition.owner_type, "Record");
      byName[all[i].definition.name.in()] = &all[i];
    }
    ASSERT_EQ(all->length(), 6u);
    EXPECT_EQ(byName.at("function_class")->value.long_value(), 13);
    EXPECT_EQ(byName.at("date")->value.long_value(), 1236853230);
    EXPECT_EQ(byName.at("sampling_frequency")->value.double_value(), 512.0);
    EXPECT_EQ(byName.at("channel_number")->value.long_value(), 7);
    EXPECT_STREQ(byName.at("point_name")->value.string_value(), "");
    EXPECT_EQ(byName.at("point_direction")->value.long_value(), 0);
  }
}

}  // namespace
