#include "rpc3/servants/CRPC3FunctionRecordImpl.h"

#include <cstdint>
#include <ctime>
#include <optional>

#include "host/utility/CParserU.h"
#include "rpc3/format/CRPC3HeaderLease.h"
#include "rpc3/format/RPC3HeaderDate.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Utility::CStringU;
using Measurement = IDL::MeasurementFunctionRecord;

namespace {

constexpr auto kFunctionClass = IDL::FunctionRecord::SAMPLED_TIME_HISTORY;

IDL::DateUnion textDate(const CStringU& date) {
  IDL::DateUnion result;
  result.date_string(date.mfGetString());
  return result;
}

}  // namespace

CRPC3FunctionRecordImpl::CRPC3FunctionRecordImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa), CFunctionRecordImpl(id, poa), CMeasurementFunctionRecordImpl(id, poa) {
  const CRPC3HeaderLease header{*id};
  mpSetFunctionClass(kFunctionClass);
  mMeasurementAnnotation.reset(getChannelMeasurementAnnotation(*header, CStringU(id->index)));
}

CRPC3FunctionRecordImpl::~CRPC3FunctionRecordImpl() = default;

Measurement::MeasurementFunctionRecordAnnotation* getChannelMeasurementAnnotation(
    const CRPC3Header& header, const CStringU& channelText) {
  std::unique_ptr<Measurement::MeasurementFunctionRecordAnnotation> annotation(
      Framework::getMeasurementFunctionRecordAnnotation(kFunctionClass));
  Measurement::MeasurementFunctionRecordDescription& d = annotation->description;
  d.date = getHeaderDate(header.mfGetKeywordValue("DATE"));
  d.channel_number = channelText.mfGetLong();
  CStringU keyword("DESC.CHAN_");
  keyword.mfAddString(channelText);
  CStringU pointName;
  Measurement::PointDirectionEnum direction = Measurement::NO_DIRECTION;
  getPointDirection(header.mfGetKeywordValue(keyword), pointName, direction);
  d.point_name = pointName.mfGetString();
  d.point_direction = direction;
  d.number_of_averages = 1;
  d.sampling_frequency = 1.0 / header.mfGetKeywordValue("DELTA_T").mfGetDouble();
  return annotation.release();
}

IDL::DateUnion getHeaderDate(const CStringU& date) {
  const std::optional<RPC3HeaderDate> stated = parseDayFirstDate(date.mfStd());
  if (!stated) return textDate(date);
  std::tm local{};
  local.tm_sec = stated->second;
  local.tm_min = stated->minute;
  local.tm_hour = stated->hour;
  local.tm_mday = stated->day;
  local.tm_mon = stated->month - 1;
  local.tm_year = stated->year - 1900;
  local.tm_isdst = -1;  // as the calendar has it on that day
  static_assert(sizeof(std::time_t) >= 8, "dates need a 64-bit time_t");
  const std::time_t seconds = std::mktime(&local);
  IDL::DateUnion result;
  result.time_value(static_cast<CORBA::Long>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(seconds))));
  return result;
}

bool getPointDirection(const CStringU& description, CStringU& pointName,
                       Measurement::PointDirectionEnum& direction) {
  static const char* const codes[] = {"S",   "+X", "+Y", "+Z",  "+RX", "+RY", "+RZ",
                                      "-X",  "-Y", "-Z", "-RX", "-RY", "-RZ"};
  Utility::CParserU parser(":");
  parser.mfParse(description);
  if (parser.mfGetNumberOfTokens() != 3) {
    pointName = description;
    direction = Measurement::NO_DIRECTION;
    return false;
  }
  pointName = parser.mfGetToken(0);
  pointName.mfAddChar(':').mfAddString(parser.mfGetToken(1));
  direction = Measurement::NO_DIRECTION;
  for (int code = 0; code < 13; ++code) {
    if (parser.mfGetToken(2).mfICompare(codes[code]) == 0) {
      direction = static_cast<Measurement::PointDirectionEnum>(code + 1);
    }
  }
  return true;
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
