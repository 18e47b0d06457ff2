// Everything a program shows about a file: its annotations and, per channel, the
// annotations, function record, quantities and time base, gathered through the file's
// extended chunks (a few calls per run of channels rather than dozens per channel).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "clients/cpp/FileSource.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Client {

namespace IDL = ::TAMBLIX::NODRA::Framework;

struct ChannelListing {
  CORBA::ULong mNumber = 0;  // from 1, in the file's order
  std::string mLabel;
  IDL::Browsable_var mReference;  // the channel object (a Function2D for a time history)
  IDL::AnnotationSeq mAnnotations;
  IDL::FunctionExtendedStruct mFunction;  // references and descriptions of the channel's parts
  CORBA::ULong mCount = 0;                // values of the channel
  // The time base: value i (from 1) lies at mFirst + (i - 1) * mSpacing.
  double mFirst = 0;
  double mSpacing = 0;

  // The text of the annotation called `name`; empty when the channel has none.
  std::string mfAnnotationText(const char* name) const;
  // The time of value `index` (from 1), in double precision and never accumulated.
  double mfTime(CORBA::ULong index) const { return mFirst + static_cast<double>(index - 1) * mSpacing; }
};

struct FileListing {
  IDL::AnnotationSeq mAnnotations;
  std::vector<ChannelListing> mChannels;
};

// The most channels a listing holds: a header's channel count is the file's word, not a
// size to trust (a small header may say it has two billion channels).
constexpr CORBA::ULong kMaxListedChannels = 10000;

// A file whose listing would hold more than kMaxListedChannels channels.
class ListingTooLarge : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Reads the listing of `file`, channel by channel as the extended chunks bring them.
// Throws ListingTooLarge when the file says it has more than kMaxListedChannels channels,
// and what the file object throws.
FileListing mfReadListing(IDL::File_ptr file);

// Reads channel `number` (from 1) alone, through the extended chunk that starts with it;
// nothing when the file has no such channel. Throws what the file object throws.
std::optional<ChannelListing> mfReadChannel(IDL::File_ptr file, CORBA::ULong number);

// A channel number the file does not have.
class NoSuchChannel : public UsageError {
public:
  using UsageError::UsageError;
};

// The channels `numbers` names, in its order, each read alone (mfReadChannel); every channel
// of the listing when `numbers` is empty. Throws UsageError when a number is repeated,
// NoSuchChannel for one the file does not have, and what mfReadListing throws.
std::vector<ChannelListing> mfReadChannels(IDL::File_ptr file, const std::vector<CORBA::ULong>& numbers);

// The channel numbers `texts` name in `file` (called `name` in messages), in order: each
// text a number (from 1), a range "FIRST-LAST" or a channel's label, exactly; the listing
// is read only for a label. Throws UsageError for a malformed text and NoSuchChannel for a
// label the file does not have; numbers are checked when the channels are read.
std::vector<CORBA::ULong> mfChannelNumbers(IDL::File_ptr file, const std::string& name,
                                           const std::vector<std::string>& texts);

// Pointers to each of `channels`, in order, as the writers and counters take them.
std::vector<const ChannelListing*> mfPointersTo(const std::vector<ChannelListing>& channels);

// Refuses a list of channel numbers that names a channel twice (UsageError): a channel
// read twice is a typing slip, not a request, and costs its reading twice.
void mpRefuseRepeatedChannels(const std::vector<CORBA::ULong>& numbers);

// The shortest text in %g style that reads back as `value` ("inf", "-inf", "nan" when not
// finite).
std::string mfNumberText(double value);
// A figure as the tables show it: seven significant digits (%.7g, the digits a float
// holds), or mfNumberText's words when it is not finite.
std::string mfFigureText(double value);
std::string mfNumberText(float value);

// The double that prints as the shortest text of `value`, so that JSON shows a float as
// the float it is ("0.1", not "0.10000000149011612"); a reader that parses it back as a
// float gets `value`.
double mfShortFloat(float value);

// An annotation's value as text: true/false, numbers as mfNumberText, strings as they are.
std::string mfAnnotationValueText(const IDL::DSVariantUnion& value);

// "+Z", "-RX", "S" (scalar) or "" (no direction).
const char* mfDirectionText(IDL::MeasurementFunctionRecord::PointDirectionEnum direction);

}  // namespace TamblixHq::NODRA::Client
