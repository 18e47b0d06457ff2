// How a channel was measured and what its axes are in: the function record object, header
// dates and measurement points, and the quantities of both axes.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "rpc3/format/CRPC3HeaderRegistry.h"
#include "rpc3/servants/CRPC3FunctionRecordImpl.h"
#include "rpc3/servants/RPC3ObjectIdentity.h"
#include "tests/rpc3/servants/ServantTestSupport.h"

namespace nodra::test {
namespace {

namespace RPC3 = TamblixHq::NODRA::Drivers::RPC3;
using Measurement = IDL::MeasurementFunctionRecord;
using TamblixHq::NODRA::Framework::CConfinedFileId;
using TamblixHq::NODRA::Utility::CStringU;

// Header dates are local times: the tests read them in UTC and put the zone back afterwards.
class UtcTest : public ServantTest {
protected:
  void SetUp() override {
    ServantTest::SetUp();
    const char* zone = std::getenv("TZ");
    if (zone) mZone = zone;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (mZone) setenv("TZ", mZone->c_str(), 1);
    else unsetenv("TZ");
    tzset();
    ServantTest::TearDown();
  }
  std::optional<std::string> mZone;
};

IDL::Function2D_ptr channelOf(IDL::File_ptr file, CORBA::ULong k) {
  IDL::BrowsableStructSeq_var children = file->get_all_children();
  if (k == 0 || k > children->length()) return IDL::Function2D::_nil();
  return IDL::Function2D::_narrow(children[k - 1].reference);
}

TEST_F(UtcTest, FunctionRecordDescribesTheSampledChannel) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mDate = "012-mar-2009 10:20:30";
  layout.mChannelTexts = {{}, {"hub:wheel:+rz", "kNm", "", "", ""}};
  IDL::File_var file = mfOpen("record.rsp", layout);
  for (CORBA::ULong k : {1u, 2u}) {
    IDL::Function2D_var channel = channelOf(file, k);
    IDL::FunctionRecord_var record = channel->get_function_record();
    IDL::MeasurementFunctionRecord_var measured = IDL::MeasurementFunctionRecord::_narrow(record);
    ASSERT_FALSE(CORBA::is_nil(measured)) << "channel " << k;
    IDL::FunctionRecord::FunctionRecordAnnotation_var kind = measured->get_function_record_annotation();
    EXPECT_EQ(kind->function_class, IDL::FunctionRecord::SAMPLED_TIME_HISTORY);
    EXPECT_EQ(static_cast<int>(kind->function_class), 13);

    Measurement::MeasurementFunctionRecordAnnotation_var a =
        measured->get_measurement_function_record_annotation();
    EXPECT_EQ(a->function_class, IDL::FunctionRecord::SAMPLED_TIME_HISTORY);
    const Measurement::MeasurementFunctionRecordDescription& d = a->description;
    ASSERT_EQ(d.date._d(), 0) << "channel " << k;
    EXPECT_EQ(d.date.time_value(), 1236853230);
    EXPECT_EQ(d.number_of_averages, 1);
    EXPECT_EQ(d.sampling_frequency, 1000.0);
    EXPECT_EQ(d.channel_number, static_cast<CORBA::Long>(k));
    EXPECT_STREQ(d.point_name, k == 1 ? "Channel 1" : "hub:wheel");
    EXPECT_EQ(d.point_direction, k == 1 ? Measurement::NO_DIRECTION : Measurement::PLUS_RZ);
  }
}

TEST_F(UtcTest, SamplingFrequencyOfAZeroTimeStepIsInfinite) {
  Rpc3FileLayout layout;
  layout.mDeltaT = "0";
  IDL::File_var file = mfOpen("zero-step.rsp", layout);
  IDL::FunctionRecord_var record = IDL::Function2D_var(channelOf(file, 1))->get_function_record();
  Measurement::MeasurementFunctionRecordAnnotation_var a =
      IDL::MeasurementFunctionRecord::_narrow(record)->get_measurement_function_record_annotation();
  EXPECT_EQ(a->description.sampling_frequency, std::numeric_limits<double>::infinity());
}

TEST_F(ServantTest, FunctionRecordFailuresReachTheFirstCallOnTheRecord) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  IDL::File_var file = mfOpen("no-record.rsp", layout);
  IDL::FunctionRecord_var record = IDL::Function2D_var(channelOf(file, 2))->get_function_record();
  {
    TypeOverride<RPC3::CRPC3FunctionRecordImpl> nothing(
        RPC3::kFunctionRecordType, IDL::MeasurementFunctionRecord::_PD_repoId,
        [](const IDL::ObjectId*, PortableServer::POA_ptr) -> PortableServer::ServantBase* { return nullptr; });
    EXPECT_THROW(IDL::FunctionRecord::FunctionRecordAnnotation_var(record->get_function_record_annotation()),
                 CORBA::OBJECT_NOT_EXIST);
  }
  {
    TypeOverride<RPC3::CRPC3FunctionRecordImpl> failing(
        RPC3::kFunctionRecordType, IDL::MeasurementFunctionRecord::_PD_repoId,
        [](const IDL::ObjectId*, PortableServer::POA_ptr) -> PortableServer::ServantBase* {
          throw std::runtime_error("no record");
        });
    EXPECT_THROW(IDL::FunctionRecord::FunctionRecordAnnotation_var(record->get_function_record_annotation()),
                 CORBA::TRANSIENT);
  }
  // The real type is back: the same reference is served now.
  IDL::FunctionRecord::FunctionRecordAnnotation_var kind = record->get_function_record_annotation();
  EXPECT_EQ(kind->function_class, IDL::FunctionRecord::SAMPLED_TIME_HISTORY);
}

TEST_F(UtcTest, HeaderDatesAreTimesOnlyInTheDayMonthYearForm) {
  constexpr CORBA::Long kTime = 1236853230;  // 12 March 2009 10:20:30 UTC
  const std::pair<const char*, std::optional<CORBA::Long>> cases[] = {
      {"012-mar-2009 10:20:30", kTime},
      {"012-MAR-2009 10:20:30", kTime},
      {"012-Mar-2009 10:20:30 xyz", kTime},
      {"031-dec-1969 23:59:59", -1},
      {"030-APR-23 11:27:28", 1682854048},  // two-digit years: 69-99 are 1969-1999, 00-68 2000-2068
      {"030-apr-99 11:27:28", 925471648},
      {"11:27:28 30-APR-23", std::nullopt},  // clock first: the text, which clients may read
      {"12-Mar-2009 10:20:30", std::nullopt},   // dash before position 3
      {"10:20:30 012-mar-2009", std::nullopt},  // time before date
      {"012-xyz-2009 10:20:30", std::nullopt},  // no month
      {"012-mar-2009", std::nullopt},           // no time
      {"", std::nullopt},
  };
  for (const auto& [text, time] : cases) {
    const IDL::DateUnion date = RPC3::getHeaderDate(CStringU(text));
    if (time) {
      ASSERT_EQ(date._d(), 0) << '"' << text << '"';
      EXPECT_EQ(date.time_value(), *time) << '"' << text << '"';
    } else {
      ASSERT_EQ(date._d(), 1) << '"' << text << '"';
      EXPECT_STREQ(date.date_string(), text);
    }
  }
}

TEST(PointDirection, OnlyThreePartDescriptionsNameADirection) {
  struct Case {
    const char* description;
    const char* name;
    Measurement::PointDirectionEnum direction;
    bool threeParts;
  };
  const Case cases[] = {
      {"a:b:+rz", "a:b", Measurement::PLUS_RZ, true},
      {"a:b:+RZ", "a:b", Measurement::PLUS_RZ, true},
      {"hub:wheel:S", "hub:wheel", Measurement::SCALAR, true},
      {"a:b:+X", "a:b", Measurement::PLUS_X, true},
      {"a:b:-x", "a:b", Measurement::MINUS_X, true},
      {"a:b:-Rz", "a:b", Measurement::MINUS_RZ, true},
      {"a:b:Q", "a:b", Measurement::NO_DIRECTION, true},
      {"a::+y", "a:", Measurement::PLUS_Y, true},
      {"a:b:c:d", "a:b:c:d", Measurement::NO_DIRECTION, false},
      {"a:+z", "a:+z", Measurement::NO_DIRECTION, false},
      {"no colon", "no colon", Measurement::NO_DIRECTION, false},
  };
  for (const Case& c : cases) {
    CStringU name("stale");
    auto direction = Measurement::MINUS_Y;
    EXPECT_EQ(RPC3::getPointDirection(CStringU(c.description), name, direction), c.threeParts)
        << c.description;
    EXPECT_EQ(name.mfStd(), c.name) << c.description;
    EXPECT_EQ(direction, c.direction) << c.description;
  }
}

TEST_F(ServantTest, TimeQuantityIsSecondsAndNeedsNoFile) {
  IDL::File_var file = mfOpen("time-quantity.rsp", Rpc3FileLayout());
  IDL::Function2D_var channel = channelOf(file, 1);
  IDL::ObjectId_var channelId = channel->get_object_id();
  IDL::FunctionValues_var x = channel->get_values_by_index(0, IDL::X);
  IDL::Quantity_var fromValues = x->get_quantity();
  IDL::Quantity_var fromChannel = RPC3::getAxisQuantity(channelId.in(), IDL::X);
  IDL::ObjectId_var a = fromValues->get_object_id();
  IDL::ObjectId_var b = fromChannel->get_object_id();
  EXPECT_EQ(idText(a.in()), idText(b.in()));
  EXPECT_STREQ(a->type_id, "RPC3Quantity");
  EXPECT_STREQ(a->axis, "X");
  EXPECT_TRUE(fromValues->_is_equivalent(fromChannel));
  const std::string seconds = "s (0,1,1) 3^1/1";
  EXPECT_EQ(quantityText(IDL::Quantity::QuantityAnnotation_var(fromValues->get_quantity_annotation()).in()), seconds);
  EXPECT_STREQ(CORBA::String_var(fromValues->get_unit_label()), "s");

  // A channel of a file that is not there: its time base is still in seconds, while its
  // samples' quantity cannot be built: the first call on it says so.
  IDL::ObjectId_var fileId = file->get_object_id();
  fileId->file_name = "missing.rsp";
  std::unique_ptr<IDL::ObjectId> lost(RPC3::getChannelObjectId(fileId.in(), 1, "lost"));
  IDL::Quantity_var lostTime = RPC3::getAxisQuantity(*lost, IDL::X);
  ASSERT_FALSE(CORBA::is_nil(lostTime));
  EXPECT_EQ(quantityText(IDL::Quantity::QuantityAnnotation_var(lostTime->get_quantity_annotation()).in()), seconds);
  IDL::Quantity_var lostSamples = RPC3::getAxisQuantity(*lost, IDL::Y);
  EXPECT_THROW(CORBA::String_var(lostSamples->get_unit_label()), CORBA::OBJECT_NOT_EXIST);
}

TEST_F(ServantTest, SampleQuantityIsTheCatalogueReadingOfTheTrimmedUnits) {
  const std::string unknown = "unknown (0,1,1)";
  struct Case {
    const char* units;  // null: the keyword is left out
    std::string expected;
  };
  const Case cases[] = {
      {"kN", "kN (0,1000,1) 1^1/1 2^1/1 3^-2/1"},
      {"  kN ", "kN (0,1000,1) 1^1/1 2^1/1 3^-2/1"},
      {"\tmm", "mm (0,1,1000) 1^1/1"},
      {"kilonewtonz", unknown},
      {" ", unknown},
      {nullptr, unknown},
  };
  Rpc3FileLayout layout;
  layout.mChannels = 6;
  for (int c = 0; c < 6; ++c) {
    if (cases[c].units) {
      layout.mExtraKeywords.emplace_back("UNITS.CHAN_" + std::to_string(c + 1), cases[c].units);
    } else {
      layout.mOmitKeywords.push_back("UNITS.CHAN_" + std::to_string(c + 1));
    }
  }
  IDL::File_var file = mfOpen("units.rsp", layout);
  IDL::ObjectId_var fileId = file->get_object_id();
  auto* registry = RPC3::CRPC3HeaderRegistry::sfGetHeaderRegistry();
  const CStringU key = CConfinedFileId(fileId.in()).mfGetKey();
  for (int c = 0; c < 6; ++c) {
    const std::size_t entries = registry->mfGetNumberOfEntries();
    const int count = registry->mfGetCount(key);
    // Straight from the identifier, without a channel or values object in between.
    std::unique_ptr<IDL::ObjectId> channelId(RPC3::getChannelObjectId(fileId.in(), c + 1, ""));
    IDL::Quantity_var quantity = RPC3::getAxisQuantity(*channelId, IDL::Y);
    ASSERT_FALSE(CORBA::is_nil(quantity));
    EXPECT_EQ(quantityText(IDL::Quantity::QuantityAnnotation_var(quantity->get_quantity_annotation()).in()),
              cases[c].expected)
        << "units " << (cases[c].units ? cases[c].units : "(absent)");
    EXPECT_EQ(registry->mfGetNumberOfEntries(), entries);
    EXPECT_EQ(registry->mfGetCount(key), count);
  }
}

}  // namespace
}  // namespace nodra::test
