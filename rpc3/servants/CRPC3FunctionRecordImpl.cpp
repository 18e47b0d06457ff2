#include "rpc3/servants/CRPC3FunctionRecordImpl.h"

#include <ctime>

#include "host/utility/CParserU.h"
#include "rpc3/format/CRPC3HeaderLease.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

using Utility::CStringU;
using Measurement = IDL::MeasurementFunctionRecord;

namespace {

constexpr auto kFunctionClass = IDL::FunctionRecord::SAMPLED_TIME_HISTORY;

// The text before and after the first `c` of `text`; false when there is none.
bool splitAt(const std::string& text, char c, std::string& before, std::string& after) {
  const std::size_t at = text.find(c);
  if (at == std::string::npos) return false;
  before = text.substr(0, at);
  after = text.substr(at + 1);
  return true;
}

int monthIndex(const std::string& name) {
  static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                       "jul", "aug", "sep", "oct", "nov", "dec"};
  for (int m = 0; m < 12; ++m) {
    if (CStringU(name).mfICompare(months[m]) == 0) return m;
  }
  return -1;
}

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
  const std::string& text = date.mfStd();
  const std::size_t colon = text.find(':');
  const std::size_t dash = text.find('-');
  const std::size_t blank = text.find(' ');
  if (colon == std::string::npos || dash == std::string::npos || blank == std::string::npos ||
      colon < blank || blank < dash || dash < 3) {
    return textDate(date);
  }
  std::string day, rest, month, tail, year, time, hour, remainder, minute, second;
  if (!splitAt(text, '-', day, rest) || !splitAt(rest, '-', month, tail) ||
      !splitAt(tail, ' ', year, time) || !splitAt(time, ':', hour, remainder) ||
      !splitAt(remainder, ':', minute, second)) {
    return textDate(date);
  }
  second = second.substr(0, second.find(' '));
  const int monthNumber = monthIndex(month);
  if (monthNumber < 0) return textDate(date);

  std::tm local{};
  local.tm_sec = CStringU(second).mfGetInt();
  local.tm_min = CStringU(minute).mfGetInt();
  local.tm_hour = CStringU(hour).mfGetInt();
  local.tm_mday = CStringU(day).mfGetInt();
  local.tm_mon = monthNumber;
  local.tm_year = CStringU(year).mfGetInt() - 1900;
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
