#include "clients/cpp/ListingOutput.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "host/utility/HeaderTextU.h"
#include "rpc3/format/RPC3HeaderDate.h"

namespace TamblixHq::NODRA::Client {

namespace {

using Json = nlohmann::ordered_json;

// JSON must be UTF-8: texts the listing did not decode (the header reading) are decoded as
// the listing's are.
std::string jsonText(const char* raw) { return Utility::sfHeaderTextToUtf8(raw ? raw : ""); }
std::string jsonText(const std::string& raw) { return jsonText(raw.c_str()); }

const char* quantityName(IDL::FundamentalQuantity quantity) {
  static const char* const names[] = {"DIMENSIONLESS",    "LENGTH",      "MASS",
                                      "TIME",             "ELECTRIC_CURRENT", "TEMPERATURE",
                                      "AMOUNT_OF_SUBSTANCE", "LUMINOUS_INTENSITY", "PLANE_ANGLE"};
  const auto index = static_cast<std::size_t>(quantity);
  return index < sizeof names / sizeof names[0] ? names[index] : "UNKNOWN";
}

Json annotationValue(const IDL::DSVariantUnion& value, const char*& type) {
  switch (value._d()) {
    case 0: type = "boolean"; return static_cast<bool>(value.bool_value());
    case 1: type = "octet"; return value.octet_value();
    case 2: type = "short"; return value.short_value();
    case 3: type = "long"; return value.long_value();
    case 4: type = "float"; return mfJsonNumber(value.float_value());
    case 5: type = "double"; return mfJsonNumber(value.double_value());
    case 6: type = "string"; return jsonText(value.string_value());
    default: type = "unknown"; return nullptr;
  }
}

Json quantityJson(const IDL::Quantity::QuantityAnnotation& quantity) {
  Json terms = Json::array();
  for (CORBA::ULong i = 0; i < quantity.terms.length(); ++i) {
    const IDL::QuantityTerm& term = quantity.terms[i];
    terms.push_back(Json::array({term.exponent_numerator, term.exponent_denominator,
                                 quantityName(term.quantity)}));
  }
  return Json{{"unit", jsonText(quantity.unit_label.in())},
              {"transform", Json::array({mfJsonNumber(quantity.offset), mfJsonNumber(quantity.numerator),
                                         mfJsonNumber(quantity.denominator)})},
              {"terms", terms}};
}

Json functionRecordJson(const IDL::MeasurementFunctionRecord::MeasurementFunctionRecordAnnotation& record) {
  const auto& d = record.description;
  Json date = d.date._d() == 0 ? Json(d.date.time_value()) : Json(jsonText(d.date.date_string()));
  return Json{{"function_class", static_cast<int>(record.function_class)},
              {"date", date},
              {"sampling_frequency", mfJsonNumber(d.sampling_frequency)},
              {"channel_number", d.channel_number},
              {"point", jsonText(d.point_name.in())},
              {"direction", static_cast<int>(d.point_direction)}};
}

// A header text between double quotes: backslash and quote escaped, bytes outside printable
// ASCII as \xNN.
std::string quoted(const char* raw) {
  static const char* const hex = "0123456789abcdef";
  std::string text = "\"";
  for (const char* c = raw; *c; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    if (byte == '"' || byte == '\\') {
      text += '\\';
      text += *c;
    } else if (byte < 0x20 || byte >= 0x7f) {
      text += "\\x";
      text += hex[byte >> 4];
      text += hex[byte & 0xf];
    } else {
      text += *c;
    }
  }
  return text + "\"";
}

// A text of the listing as it is, or quoted (see quoted) when it holds a control character,
// which would break its line or table row.
std::string shown(const std::string& text) {
  const bool control = std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7f;
  });
  return control ? quoted(text.c_str()) : text;
}

// The reading called `name` as a number; -1 when there is none.
long long readingNumber(const IDL::HeaderReading& reading, const char* name) {
  for (CORBA::ULong i = 0; i < reading.readings.length(); ++i) {
    const IDL::DSVariantUnion& value = reading.readings[i].value;
    if (std::string(reading.readings[i].definition.name.in()) != name) continue;
    if (value._d() == 3) return value.long_value();
    if (value._d() == 5) return static_cast<long long>(value.double_value());
  }
  return -1;
}

}  // namespace

std::optional<std::string> mfIsoDate(const IDL::Annotation& annotation) {
  if (annotation.value._d() != 6 || std::string(annotation.definition.name.in()) != "date") {
    return std::nullopt;
  }
  return Drivers::RPC3::getIsoDate(annotation.value.string_value());
}

CTextTable::CTextTable(std::vector<std::string> header, std::vector<bool> rightAligned)
    : mRight(std::move(rightAligned)) {
  mRows.push_back(std::move(header));
}

void CTextTable::mpPrint(std::ostream& out) const {
  std::vector<std::size_t> widths(mRight.size(), 0);
  for (const auto& row : mRows) {
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : mRows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      const std::string pad(widths[c] - row[c].size(), ' ');
      line += c == 0 ? "" : "  ";
      line += mRight[c] ? pad + row[c] : row[c] + (c + 1 == row.size() ? "" : pad);
    }
    out << line.substr(0, line.find_last_not_of(' ') + 1) << "\n";
  }
}

Json mfJsonNumber(double value) {
  if (std::isfinite(value)) return value;
  return mfNumberText(value);
}

Json mfAnnotationsJson(const IDL::AnnotationSeq& annotations) {
  Json all = Json::array();
  for (CORBA::ULong i = 0; i < annotations.length(); ++i) {
    const char* type = "";
    Json value = annotationValue(annotations[i].value, type);
    Json entry{{"name", jsonText(annotations[i].definition.name.in())}, {"type", type}, {"value", value}};
    if (const std::optional<std::string> iso = mfIsoDate(annotations[i])) entry["iso8601"] = *iso;
    all.push_back(std::move(entry));
  }
  return all;
}

Json mfListingJson(const FileListing& listing) {
  Json channels = Json::array();
  for (const ChannelListing& channel : listing.mChannels) {
    const IDL::FunctionExtendedStruct& f = channel.mFunction;
    channels.push_back(Json{{"number", channel.mNumber},
                            {"label", jsonText(channel.mLabel)},
                            {"annotations", mfAnnotationsJson(channel.mAnnotations)},
                            {"values", Json{{"count", channel.mCount},
                                            {"first", mfJsonNumber(channel.mFirst)},
                                            {"spacing", mfJsonNumber(channel.mSpacing)}}},
                            {"unit", jsonText(f.y_quantity_annotation.unit_label.in())},
                            {"quantity", quantityJson(f.y_quantity_annotation)},
                            {"function_record", functionRecordJson(f.measurement_annotation)}});
  }
  return Json{{"file", Json{{"annotations", mfAnnotationsJson(listing.mAnnotations)}}},
              {"channels", channels}};
}

void mpPrintListing(std::ostream& out, const std::string& title, const FileListing& listing) {
  out << title << ": " << listing.mChannels.size()
      << (listing.mChannels.size() == 1 ? " channel\n" : " channels\n");
  for (CORBA::ULong i = 0; i < listing.mAnnotations.length(); ++i) {
    out << "  " << shown(listing.mAnnotations[i].definition.name.in()) << " = "
        << shown(mfAnnotationValueText(listing.mAnnotations[i].value));
    if (const std::optional<std::string> iso = mfIsoDate(listing.mAnnotations[i])) out << " (" << *iso << ")";
    out << "\n";
  }
  out << "\n";
  CTextTable table({"#", "description", "unit", "scale", "lower", "upper", "values", "rate [Hz]",
                    "point", "direction"},
                   {true, false, false, true, true, true, true, true, false, false});
  for (const ChannelListing& channel : listing.mChannels) {
    const auto& d = channel.mFunction.measurement_annotation.description;
    table.mpAdd({std::to_string(channel.mNumber), shown(channel.mfAnnotationText("description")),
                 shown(channel.mFunction.y_quantity_annotation.unit_label.in()),
                 shown(channel.mfAnnotationText("scale")), shown(channel.mfAnnotationText("lower_limit")),
                 shown(channel.mfAnnotationText("upper_limit")), std::to_string(channel.mCount),
                 mfNumberText(d.sampling_frequency), shown(d.point_name.in()),
                 shown(mfDirectionText(d.point_direction))});
  }
  table.mpPrint(out);
}

void mpPrintHeaderReading(std::ostream& out, const std::string& title, const IDL::HeaderReading& reading) {
  const long long counted = readingNumber(reading, "counted_records");
  out << title << ": " << reading.records.length() << " records read, " << counted << " counted\n";
  CTextTable table({"#", "keyword", "value", "note"}, {true, false, false, false});
  for (CORBA::ULong i = 0; i < reading.records.length(); ++i) {
    const IDL::HeaderRecord& record = reading.records[i];
    std::string note;
    const auto add = [&note](const char* text) { note += (note.empty() ? "" : "; ") + std::string(text); };
    if (record.dropped) add("repeated keyword: ignored");
    if (counted >= 0 && record.number >= static_cast<unsigned long long>(counted)) add("after the counted records");
    if (record.from_data) add("in the sample data");
    table.mpAdd({std::to_string(record.number), quoted(record.keyword.in()), quoted(record.value.in()), note});
  }
  table.mpPrint(out);
  out << "\n";
  for (CORBA::ULong i = 0; i < reading.readings.length(); ++i) {
    out << "  " << jsonText(reading.readings[i].definition.name.in()) << " = "
        << jsonText(mfAnnotationValueText(reading.readings[i].value)) << "\n";
  }
}

Json mfHeaderReadingJson(const IDL::HeaderReading& reading) {
  Json records = Json::array();
  for (CORBA::ULong i = 0; i < reading.records.length(); ++i) {
    const IDL::HeaderRecord& record = reading.records[i];
    records.push_back(Json{{"number", record.number},
                           {"keyword", jsonText(record.keyword.in())},
                           {"value", jsonText(record.value.in())},
                           {"dropped", static_cast<bool>(record.dropped)},
                           {"from_data", static_cast<bool>(record.from_data)}});
  }
  return Json{{"records", std::move(records)}, {"readings", mfAnnotationsJson(reading.readings)}};
}

namespace {

// The entries of `names` as {"name", "path"}, the path from the access point on.
Json directoryEntries(const IDL::StringSeq& names, const RemoteFileName& directory) {
  std::string prefix = directory.mAccessPoint + "/";
  if (!directory.mSubDirectory.empty()) prefix += directory.mSubDirectory + "/";
  Json listed = Json::array();
  for (CORBA::ULong i = 0; i < names.length(); ++i) {
    listed.push_back(Json{{"name", names[i].in()}, {"path", prefix + names[i].in()}});
  }
  return listed;
}

}  // namespace

Json mfDirectoriesJson(IDL::DataServer_ptr root, const std::string& directory) {
  std::vector<RemoteFileName> directories;
  if (!directory.empty()) {
    std::string why;
    const std::optional<RemoteFileName> name = mfParseDirectoryName(directory, why);
    if (!name) throw UsageError("dir \"" + directory + "\": " + why);
    directories.push_back(*name);
  } else {
    IDL::StringSeq_var points = root->list_access_points();
    for (CORBA::ULong i = 0; i < points->length(); ++i) directories.push_back({points[i].in(), "", ""});
  }
  Json points = Json::array();
  for (const RemoteFileName& one : directories) {
    Json entry{{"name", one.mAccessPoint}, {"directory", one.mSubDirectory}};
    try {
      IDL::StringSeq_var subDirectories = root->list_directories(one.mAccessPoint.c_str(), one.mSubDirectory.c_str());
      IDL::StringSeq_var files = root->list_files(one.mAccessPoint.c_str(), one.mSubDirectory.c_str());
      entry["directories"] = directoryEntries(subDirectories.in(), one);
      entry["files"] = directoryEntries(files.in(), one);
    } catch (IDL::DBAccessException& e) {
      // One directory asked for: it is the answer. Among all: the others still are.
      if (!directory.empty()) {
        mpNameKnownAccessPoints(root, e);
        throw;
      }
      entry["directories"] = Json::array();
      entry["files"] = Json::array();
      entry["error"] = e.message.in();
    }
    points.push_back(std::move(entry));
  }
  return Json{{"access_points", std::move(points)}};
}

}  // namespace TamblixHq::NODRA::Client
