// What both back-ends share: a query's filters as SQL with placeholders and the values to
// bind, and the words of texts for the full-text index. Internal to the catalogue.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace TamblixHq::NODRA::Catalogue {

enum class Dialect { kSqlite, kPostgres };

struct SqlValue {
  enum class Kind { kText, kReal, kInteger };
  Kind mKind = Kind::kText;
  std::string mText;
  double mReal = 0;
  std::int64_t mInteger = 0;
};

// "WHERE ..." over channels `c` joined with files `f` (empty without filters), and its values
// in the order of the placeholders. mNothing: the query can pass no row.
struct SqlFilter {
  std::string mWhere;
  std::vector<SqlValue> mValues;
  bool mNothing = false;
};

SqlFilter mfBuildFilter(const Query& query, Dialect dialect);

// A page's limit or offset as SQL takes it (a signed 64-bit number; larger ones are "all").
std::int64_t mfSqlCount(std::size_t count);

// The words of a text, lowercase: maximal runs of ASCII letters and digits and of bytes of
// non-ASCII characters. Punctuation and spaces separate them.
std::vector<std::string> mfWordsOf(const std::string& text);

// The text a channel is found by: its label, its point and its file's "ACCESS_POINT/PATH".
std::string mfSearchText(const std::string& label, const std::string& point, const std::string& accessPoint,
                         const std::string& path);

// The URL with any password replaced by "***", for messages.
std::string mfRedactedUrl(const std::string& url);

std::string mfSchemaMismatch(const std::string& url, long long found);

// The columns a channel is read back from, in this order, of channels `c`.
constexpr const char* kChannelColumns =
    "c.number, c.label, c.unit, c.unit_terms, c.rate, c.value_count, c.first_time, c.spacing, c.point, c.direction,"
    " c.n, c.nan_count, c.min, c.max, c.mean, c.rms, c.value_sum, c.square_sum";

// A channel from kChannelColumns at columns `i` on of a result row, read through `row`'s
// text(i), real(i), count(i) and integer(i) (NULL reals as NaN).
template <class Row>
ChannelEntry mfChannelFromColumns(const Row& row, int i) {
  ChannelEntry c;
  c.mNumber = row.integer(i);
  c.mLabel = row.text(i + 1);
  c.mUnit = row.text(i + 2);
  c.mUnitTerms = row.text(i + 3);
  c.mRate = row.real(i + 4);
  c.mValues = row.count(i + 5);
  c.mFirstTime = row.real(i + 6);
  c.mSpacing = row.real(i + 7);
  c.mPoint = row.text(i + 8);
  c.mDirection = row.text(i + 9);
  c.mStats = {row.count(i + 10), row.count(i + 11), row.real(i + 12), row.real(i + 13), row.real(i + 14),
              row.real(i + 15), row.real(i + 16), row.real(i + 17)};
  return c;
}

}  // namespace TamblixHq::NODRA::Catalogue
