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

}  // namespace TamblixHq::NODRA::Catalogue
