#include "clients/cpp/FileListing.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <unordered_set>

#include "clients/cpp/FileSource.h"
#include "host/utility/HeaderTextU.h"

namespace TamblixHq::NODRA::Client {

namespace {

template <typename Number>
std::string shortestText(Number value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general).ptr;
  return std::string(text, end);
}

// The time base of a channel's X values; left as it is when they are not equidistant.
void readTimeBase(ChannelListing& channel) {
  IDL::EquidistantValues_var x = IDL::EquidistantValues::_narrow(channel.mFunction.x_values);
  if (CORBA::is_nil(x)) return;
  const IDL::EquidistantValues::EquidistantValueAnnotation axis = x->get_equidistant_value_annotation();
  channel.mFirst = axis.first_value;
  channel.mSpacing = axis.spacing;
}

}  // namespace

std::string mfNumberText(double value) { return shortestText(value); }
std::string mfNumberText(float value) { return shortestText(value); }

std::string mfFigureText(double value) {
  if (!std::isfinite(value)) return mfNumberText(value);
  char text[32];
  std::snprintf(text, sizeof text, "%.7g", value);
  return text;
}

double mfShortFloat(float value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  double shortest = value;
  std::from_chars(text, end, shortest);
  return shortest;
}

std::string mfAnnotationValueText(const IDL::DSVariantUnion& value) {
  switch (value._d()) {
    case 0: return value.bool_value() ? "true" : "false";
    case 1: return std::to_string(value.octet_value());
    case 2: return std::to_string(value.short_value());
    case 3: return std::to_string(value.long_value());
    case 4: return mfNumberText(value.float_value());
    case 5: return mfNumberText(value.double_value());
    case 6: return static_cast<const char*>(value.string_value());
    default: return "";
  }
}

const char* mfDirectionText(IDL::MeasurementFunctionRecord::PointDirectionEnum direction) {
  static const char* const texts[] = {"",   "S",  "+X", "+Y", "+Z", "+RX", "+RY",
                                      "+RZ", "-X", "-Y", "-Z", "-RX", "-RY", "-RZ"};
  const auto index = static_cast<std::size_t>(direction);
  return index < sizeof texts / sizeof texts[0] ? texts[index] : "?";
}

std::string ChannelListing::mfAnnotationText(const char* name) const {
  for (CORBA::ULong i = 0; i < mAnnotations.length(); ++i) {
    if (std::string(mAnnotations[i].definition.name) == name) {
      return mfAnnotationValueText(mAnnotations[i].value);
    }
  }
  return "";
}

namespace {

// Header texts reach every output through here, read as UTF-8 or else Latin-1 (see
// HeaderTextU.h): the listing, the CSV header, the statistics, rainflow and the web routes
// all show the same characters.
void decode(CORBA::String_member& text) { text = Utility::sfHeaderTextToUtf8(text.in()).c_str(); }

void decode(IDL::AnnotationSeq& annotations) {
  for (CORBA::ULong i = 0; i < annotations.length(); ++i) {
    decode(annotations[i].definition.name);
    IDL::DSVariantUnion& value = annotations[i].value;
    if (value._d() == 6) value.string_value(Utility::sfHeaderTextToUtf8(value.string_value()).c_str());
  }
}

void decode(IDL::FunctionExtendedStruct& function) {
  decode(function.function_record_annotation.name);
  decode(function.function_record_annotation.comment);
  IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation& measurement = function.measurement_annotation;
  decode(measurement.name);
  decode(measurement.description.point_name);
  decode(measurement.description.comment);
  if (measurement.description.date._d() == 1) {
    measurement.description.date.date_string(
        Utility::sfHeaderTextToUtf8(measurement.description.date.date_string()).c_str());
  }
  decode(function.x_quantity_annotation.unit_label);
  decode(function.y_quantity_annotation.unit_label);
}

// Entry `i` of an extended chunk as the channel numbered `number`, without what its values
// objects answer (askValuesObjects).
ChannelListing channelOf(const IDL::BrowsableExtendedStruct& chunk, CORBA::ULong i, CORBA::ULong number) {
  ChannelListing channel;
  channel.mNumber = number;
  channel.mLabel = Utility::sfHeaderTextToUtf8(chunk.children[i].label.in());
  channel.mReference = IDL::Browsable::_duplicate(chunk.children[i].reference);
  if (i < chunk.annotations.length()) channel.mAnnotations = chunk.annotations[i];
  if (i < chunk.functions.length()) channel.mFunction = chunk.functions[i];
  decode(channel.mAnnotations);
  decode(channel.mFunction);
  return channel;
}

// The count and the time base of a channel: one call to each of its values objects.
void askValuesObjects(ChannelListing& channel) {
  if (!CORBA::is_nil(channel.mFunction.y_values)) {
    channel.mCount = channel.mFunction.y_values->get_number_of_values();
  }
  readTimeBase(channel);
}

// askValuesObjects for `channels` from `first` on, on a few threads at once: the
// calls are small and, to a server, each waits a round trip. Throws what the call of the
// lowest channel that failed threw.
void askValuesObjects(std::vector<ChannelListing>& channels, std::size_t first) {
  constexpr std::size_t kThreads = 4;
  const std::size_t n = channels.size() - first;
  if (n <= 1) {
    for (std::size_t i = first; i < channels.size(); ++i) askValuesObjects(channels[i]);
    return;
  }
  std::atomic<std::size_t> next{first};
  std::vector<std::exception_ptr> errors(n);
  const auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < channels.size();) {
      try {
        askValuesObjects(channels[i]);
      } catch (...) {
        errors[i - first] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t t = 1; t < std::min(kThreads, n); ++t) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
}

}  // namespace

FileListing mfReadListing(IDL::File_ptr file) {
  FileListing listing;
  IDL::AnnotationSeq_var annotations = file->get_all_annotations();
  listing.mAnnotations = annotations.in();
  decode(listing.mAnnotations);
  const CORBA::ULong total = file->get_number_of_children();
  if (total > kMaxListedChannels) {
    throw ListingTooLarge("the file says it has " + std::to_string(total) + " channels, more than the " +
                          std::to_string(kMaxListedChannels) +
                          " a listing holds; channels named by number (--channel) are read from any file");
  }
  // A chunk answers as many channels as the server's chunk size allows; an empty one ends
  // the walk early should the file have fewer channels than it said. Reserved: a listing's
  // CORBA members are copied, not moved, when a vector grows.
  listing.mChannels.reserve(total);
  while (listing.mChannels.size() < total) {
    const auto start = static_cast<CORBA::ULong>(listing.mChannels.size());
    IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(start);
    if (chunk->children.length() == 0) break;
    for (CORBA::ULong i = 0; i < chunk->children.length(); ++i) {
      listing.mChannels.push_back(channelOf(chunk.in(), i, start + i + 1));
    }
    askValuesObjects(listing.mChannels, start);
  }
  return listing;
}

void mpRefuseRepeatedChannels(const std::vector<CORBA::ULong>& numbers) {
  std::unordered_set<CORBA::ULong> seen;
  for (CORBA::ULong number : numbers) {
    if (!seen.insert(number).second) {
      throw UsageError("channel " + std::to_string(number) + " is named more than once");
    }
  }
}

std::optional<ChannelListing> mfReadChannel(IDL::File_ptr file, CORBA::ULong number) {
  if (number == 0 || number > file->get_number_of_children()) return std::nullopt;
  IDL::BrowsableExtendedStruct_var chunk = file->get_all_children_extended_chunk(number - 1);
  if (chunk->children.length() == 0) return std::nullopt;
  ChannelListing channel = channelOf(chunk.in(), 0, number);
  askValuesObjects(channel);
  return channel;
}

std::vector<const ChannelListing*> mfPointersTo(const std::vector<ChannelListing>& channels) {
  std::vector<const ChannelListing*> pointers;
  for (const ChannelListing& channel : channels) pointers.push_back(&channel);
  return pointers;
}

std::vector<ChannelListing> mfReadChannels(IDL::File_ptr file, const std::vector<CORBA::ULong>& numbers) {
  if (numbers.empty()) return mfReadListing(file).mChannels;
  mpRefuseRepeatedChannels(numbers);
  std::vector<ChannelListing> channels;
  for (CORBA::ULong number : numbers) {
    std::optional<ChannelListing> channel = mfReadChannel(file, number);
    if (!channel) {
      throw NoSuchChannel("channel " + std::to_string(number) + " does not exist (the file has " +
                          std::to_string(file->get_number_of_children()) + " channels)");
    }
    channels.push_back(std::move(*channel));
  }
  return channels;
}

namespace {

// `text` as a channel number: decimal digits only; nothing when it is not all digits. (0 is
// refused where the channels are read, as a channel the file does not have.)
std::optional<CORBA::ULong> channelNumber(const std::string& text, const std::string& given) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  if (text.size() > 10 || std::stoull(text) > std::numeric_limits<CORBA::ULong>::max()) {
    throw UsageError("channel \"" + given + "\": channels are numbered from 1 to the file's count");
  }
  return static_cast<CORBA::ULong>(std::stoull(text));
}

}  // namespace

std::vector<CORBA::ULong> mfChannelNumbers(IDL::File_ptr file, const std::string& name,
                                           const std::vector<std::string>& texts) {
  std::vector<CORBA::ULong> numbers;
  std::optional<FileListing> listing;  // read at the first label
  for (const std::string& given : texts) {
    if (given.empty()) throw UsageError("an empty channel name (two commas in a row?)");
    if (const std::optional<CORBA::ULong> number = channelNumber(given, given)) {
      numbers.push_back(*number);
      continue;
    }
    const std::size_t dash = given.find('-');
    if (dash != std::string::npos && dash > 0) {
      const std::optional<CORBA::ULong> first = channelNumber(given.substr(0, dash), given);
      const std::optional<CORBA::ULong> last = channelNumber(given.substr(dash + 1), given);
      if (first && last) {
        if (*first > *last) throw UsageError("channel range \"" + given + "\" runs backwards");
        if (*last - *first >= kMaxListedChannels) {
          throw UsageError("channel range \"" + given + "\" is longer than a file's most channels (" +
                           std::to_string(kMaxListedChannels) + ")");
        }
        for (CORBA::ULong n = *first;; ++n) {
          numbers.push_back(n);
          if (n == *last) break;
        }
        continue;
      }
    }
    if (!listing) listing = mfReadListing(file);
    const auto found = std::find_if(listing->mChannels.begin(), listing->mChannels.end(),
                                    [&](const ChannelListing& channel) { return channel.mLabel == given; });
    if (found == listing->mChannels.end()) throw NoSuchChannel(name + " has no channel labelled \"" + given + "\"");
    numbers.push_back(found->mNumber);
  }
  return numbers;
}

}  // namespace TamblixHq::NODRA::Client
