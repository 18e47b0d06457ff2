// The two forms a file's listing is printed in: a text table for people and a JSON
// document for scripts. Both are output contracts that scripts and users rely on.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "clients/cpp/FileListing.h"

namespace TamblixHq::NODRA::Client {

// A text table whose columns are as wide as their widest entry, two spaces apart, with
// trailing blanks cut.
class CTextTable {
public:
  CTextTable(std::vector<std::string> header, std::vector<bool> rightAligned);
  void mpAdd(std::vector<std::string> row) { mRows.push_back(std::move(row)); }
  void mpPrint(std::ostream& out) const;

private:
  std::vector<bool> mRight;
  std::vector<std::vector<std::string>> mRows;
};

// The moment the file's "date" annotation (the header's text) stands for, as ISO 8601
// ("2023-04-30T11:27:28", the wall-clock time the file states); nothing for any other
// annotation or a text in neither of the forms writers use.
std::optional<std::string> mfIsoDate(const IDL::Annotation& annotation);

// The title line, the file annotations (name = value, the date followed by its ISO 8601
// form in parentheses where it reads), then one table row per channel:
// number, description, unit, scale, limits, values, sampling rate, point and direction.
void mpPrintListing(std::ostream& out, const std::string& title, const FileListing& listing);

// What `root` holds, as {"access_points": [{"name", "directory", "directories": [{"name",
// "path"}], "files": [...]}]}: every access point's top level when `directory` is empty,
// else that one directory (ACCESS_POINT[/DIRS]). Throws UsageError for a malformed
// directory, and the root object's exception when the one directory asked for cannot be
// listed; among all access points, one that cannot be listed carries its "error".
nlohmann::ordered_json mfDirectoriesJson(IDL::DataServer_ptr root, const std::string& directory);

// {"file": {"annotations": [...]}, "channels": [...]}; the date annotation carries
// "iso8601" where it reads; non-finite numbers as "inf", "-inf", "nan", and texts that are not UTF-8 read as Latin-1, so that the document stays valid JSON.
nlohmann::ordered_json mfListingJson(const FileListing& listing);

// A file's header as its reader took it: a title line ("TITLE: N records read, M counted"),
// one row per record (number, keyword and value quoted, so that blanks and other bytes
// show, and a note where its keyword was dropped as a repeat, where it lies after the
// counted records and where in the sample data), then the readings as name = value.
void mpPrintHeaderReading(std::ostream& out, const std::string& title, const IDL::HeaderReading& reading);

// {"records": [{"number", "keyword", "value", "dropped", "from_data"}...], "readings": [...]}.
nlohmann::ordered_json mfHeaderReadingJson(const IDL::HeaderReading& reading);

// One annotation list as [{"name", "type", "value"}...], in the order given.
nlohmann::ordered_json mfAnnotationsJson(const IDL::AnnotationSeq& annotations);

// A number, or its text when it is not finite.
nlohmann::ordered_json mfJsonNumber(double value);

}  // namespace TamblixHq::NODRA::Client
