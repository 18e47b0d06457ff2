#include "clients/cpp/CatalogueOutput.h"

#include <cmath>
#include <cstdlib>

#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/FileListing.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ListingOutput.h"

namespace TamblixHq::NODRA::Client {

namespace {

using Json = nlohmann::ordered_json;

std::optional<double> parsedNumber(const char* name, const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text->c_str(), &end);
  if (text->empty() || end != text->c_str() + text->size() || !std::isfinite(value)) {
    throw UsageError(std::string(name) + " must be a finite number, got \"" + *text + "\"");
  }
  return value;
}

std::string fullPath(const Catalogue::ChannelRow& row) { return row.mAccessPoint + "/" + row.mPath; }

}  // namespace

Catalogue::Query mfCatalogueQuery(const std::function<std::optional<std::string>(const char*)>& text) {
  Catalogue::Query query;
  query.mText = text("q");
  query.mUnit = text("unit");
  query.mLabel = text("label");
  query.mRecordedFrom = text("recorded_from");
  query.mRecordedTo = text("recorded_to");
  query.mRate = parsedNumber("rate", text("rate"));
  if (const std::optional<std::string> path = text("path")) {
    // ACCESS_POINT, or ACCESS_POINT/PREFIX of the path within it.
    const std::size_t slash = path->find('/');
    query.mAccessPoint = path->substr(0, slash);
    if (slash != std::string::npos) query.mPath = path->substr(slash + 1);
  }
  const auto whole = [&](const char* name, std::size_t least, std::size_t most, std::size_t otherwise) {
    const std::optional<double> value = parsedNumber(name, text(name));
    if (!value) return otherwise;
    if (*value != std::floor(*value) || *value < static_cast<double>(least) || *value > static_cast<double>(most)) {
      throw UsageError(std::string(name) + " must be a whole number from " + std::to_string(least) + " to " +
                       std::to_string(most));
    }
    return static_cast<std::size_t>(*value);
  };
  query.mLimit = whole("limit", 1, 10000, 100);
  query.mOffset = whole("offset", 0, std::size_t{1} << 40, 0);
  return query;
}

Json mfCatalogueRowsJson(const std::vector<Catalogue::ChannelRow>& rows, const Catalogue::Query& query) {
  Json list = Json::array();
  for (const Catalogue::ChannelRow& row : rows) {
    const Catalogue::ChannelEntry& c = row.mChannel;
    Json entry;
    entry["viewer"] = row.mServedBy ? Json(*row.mServedBy) : Json(nullptr);
    entry["path"] = fullPath(row);
    entry["number"] = c.mNumber;
    entry["label"] = c.mLabel;
    entry["unit"] = c.mUnit;
    entry["unit_terms"] = c.mUnitTerms;
    entry["rate"] = mfJsonNumber(c.mRate);
    entry["values"] = c.mValues;
    entry["first"] = mfJsonNumber(c.mFirstTime);
    entry["spacing"] = mfJsonNumber(c.mSpacing);
    entry["point"] = c.mPoint;
    entry["direction"] = c.mDirection;
    entry["recorded"] = row.mRecorded ? Json(*row.mRecorded) : Json(nullptr);
    entry["version"] = row.mVersion;
    entry["count"] = c.mStats.mCount;
    entry["nan"] = c.mStats.mNaN;
    entry["min"] = mfJsonNumber(c.mStats.mMin);
    entry["max"] = mfJsonNumber(c.mStats.mMax);
    entry["mean"] = mfJsonNumber(c.mStats.mMean);
    entry["rms"] = mfJsonNumber(c.mStats.mRms);
    entry["sum"] = mfJsonNumber(c.mStats.mSum);
    entry["sum_squares"] = mfJsonNumber(c.mStats.mSumOfSquares);
    list.push_back(std::move(entry));
  }
  return Json{{"rows", std::move(list)}, {"limit", query.mLimit}, {"offset", query.mOffset}};
}

void mpWriteCatalogueRowsCsv(std::ostream& out, const std::vector<Catalogue::ChannelRow>& rows) {
  out << "viewer,path,number,label,unit,rate,values,point,direction,recorded,count,nan,min,max,mean,rms\n";
  for (const Catalogue::ChannelRow& row : rows) {
    const Catalogue::ChannelEntry& c = row.mChannel;
    out << mfCsvCell(row.mServedBy.value_or("")) << ",";
    out << mfCsvCell(fullPath(row)) << "," << c.mNumber << "," << mfCsvCell(c.mLabel) << "," << mfCsvCell(c.mUnit) << ","
        << mfNumberText(c.mRate) << "," << c.mValues << "," << mfCsvCell(c.mPoint) << "," << mfCsvCell(c.mDirection)
        << "," << (row.mRecorded ? *row.mRecorded : "") << "," << c.mStats.mCount << "," << c.mStats.mNaN << ","
        << mfNumberText(c.mStats.mMin) << "," << mfNumberText(c.mStats.mMax) << "," << mfNumberText(c.mStats.mMean)
        << "," << mfNumberText(c.mStats.mRms) << "\n";
  }
}

Json mfCatalogueSummaryJson(const std::vector<Catalogue::SummaryRow>& rows) {
  Json list = Json::array();
  for (const Catalogue::SummaryRow& row : rows) {
    list.push_back(Json{{"label", row.mLabel},
                        {"unit", row.mUnit},
                        {"files", row.mFiles},
                        {"channels", row.mChannels},
                        {"values", row.mValues},
                        {"nan", row.mNaN},
                        {"min", mfJsonNumber(row.mMin)},
                        {"max", mfJsonNumber(row.mMax)},
                        {"mean", mfJsonNumber(row.mfMean())},
                        {"rms", mfJsonNumber(row.mfRms())},
                        {"sum", mfJsonNumber(row.mSum)},
                        {"sum_squares", mfJsonNumber(row.mSumOfSquares)}});
  }
  return Json{{"summary", std::move(list)}};
}

}  // namespace TamblixHq::NODRA::Client
