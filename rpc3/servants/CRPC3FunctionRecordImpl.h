// Servant of a channel's measurement function record: the date, sampling frequency, channel
// number, measurement point and direction, read from the file's header while the servant
// is constructed; the framework base answers every call from them. Safe to share between
// threads.
#pragma once

#include "host/framework/CMeasurementFunctionRecordImpl.h"
#include "host/utility/CStringU.h"
#include "rpc3/format/CRPC3Header.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CRPC3FunctionRecordImpl : public virtual Framework::CMeasurementFunctionRecordImpl {
public:
  // Reads the header (held only while constructing); throws its DBAccessException when it
  // cannot be read.
  CRPC3FunctionRecordImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CRPC3FunctionRecordImpl() override;
  CRPC3FunctionRecordImpl() = delete;
  CRPC3FunctionRecordImpl(const CRPC3FunctionRecordImpl&) = delete;
  CRPC3FunctionRecordImpl& operator=(const CRPC3FunctionRecordImpl&) = delete;
};

// The measurement annotation of a channel (number text as in identifier field 9): the
// defaults of a sampled time history, with the header's "DATE" (getHeaderDate), one
// average, the sampling frequency 1 / "DELTA_T", the channel number, and the point name and
// direction of its "DESC.CHAN_" + n text (getPointDirection). New; the caller owns it.
IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation* getChannelMeasurementAnnotation(
    const CRPC3Header& header, const Utility::CStringU& channelText);

// A header date "DDD-Mon-YYYY hh:mm:ss" as seconds since 1970 in local time (the low 32
// bits; -1 when the conversion fails), read only when its first dash stands at position 3
// or later and is followed by a blank and then a colon; the month names jan ... dec in any
// letter case. Any other text, one with another month name included, is returned as text.
IDL::DateUnion getHeaderDate(const Utility::CStringU& date);

// The point of a description "part1:part2:direction": the name "part1:part2" and the code
// of the direction (S, +X, +Y, +Z, +RX, +RY, +RZ, -X, ..., -RZ in any letter case; 0 for
// any other). A description not of exactly three parts is the whole name with direction 0;
// the result says whether it had three parts.
bool getPointDirection(const Utility::CStringU& description, Utility::CStringU& pointName,
                       IDL::MeasurementFunctionRecord::PointDirectionEnum& direction);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
