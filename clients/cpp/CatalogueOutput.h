// What the programs print of a catalogue: the rows of a query (a row per channel, with its
// file's path as ACCESS_POINT/PATH and the viewer that serves it) and the fleet's summary
// per label and unit, as JSON and CSV; and a query read from named texts, as the command
// line and the viewer's route give them.
#pragma once

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace TamblixHq::NODRA::Client {

// The query named by texts: q (words), unit, rate, recorded_from, recorded_to, path
// (ACCESS_POINT[/PREFIX]), label, limit (1 to 10000, default 100), offset. `text` answers
// the text of a name, nothing when it is not given. Throws UsageError for a malformed
// number.
Catalogue::Query mfCatalogueQuery(const std::function<std::optional<std::string>(const char*)>& text);

// {"rows": [{"viewer", "path", "number", "label", "unit", "unit_terms", "rate", "values",
// "first", "spacing", "point", "direction", "recorded", "version", "count", "nan", "min",
// "max", "mean", "rms", "sum", "sum_squares"}], "limit", "offset"}; the viewer that serves
// the row's file (null when none was recorded).
nlohmann::ordered_json mfCatalogueRowsJson(const std::vector<Catalogue::ChannelRow>& rows,
                                           const Catalogue::Query& query);
// The same rows as CSV, a header line first; texts quoted as CSV needs and never run as
// formulas by a spreadsheet.
void mpWriteCatalogueRowsCsv(std::ostream& out, const std::vector<Catalogue::ChannelRow>& rows);
// {"summary": [{"label", "unit", "files", "channels", "values", "nan", "min", "max", "mean",
// "rms", "sum", "sum_squares"}]}.
nlohmann::ordered_json mfCatalogueSummaryJson(const std::vector<Catalogue::SummaryRow>& rows);

}  // namespace TamblixHq::NODRA::Client
