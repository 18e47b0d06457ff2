#include "SqlFilter.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

namespace TamblixHq::NODRA::Catalogue {

namespace {

bool isWordByte(unsigned char c) { return std::isalnum(c) != 0 || c >= 0x80; }

// A label pattern with * as the wildcard, for GLOB (SQLite) or LIKE ... ESCAPE '\'
// (PostgreSQL); every other character stands for itself.
std::string labelPattern(const std::string& pattern, Dialect dialect) {
  std::string out;
  for (char c : pattern) {
    if (dialect == Dialect::kSqlite) {
      if (c == '[' || c == '?') {
        out += '[';
        out += c;
        out += ']';
      } else {
        out += c;
      }
    } else if (c == '*') {
      out += '%';
    } else {
      if (c == '%' || c == '_' || c == '\\') out += '\\';
      out += c;
    }
  }
  return out;
}

std::string likePrefix(const std::string& prefix) {
  std::string out;
  for (char c : prefix) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += c;
  }
  return out + '%';
}

}  // namespace

std::vector<std::string> mfWordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (isWordByte(c)) {
      word += static_cast<char>(std::tolower(c));
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::string mfSearchText(const std::string& label, const std::string& point, const std::string& accessPoint,
                         const std::string& path) {
  std::string text;
  for (const std::string* part : {&label, &point, &accessPoint, &path})
    for (const std::string& word : mfWordsOf(*part)) {
      if (!text.empty()) text += ' ';
      text += word;
    }
  return text;
}

std::string mfRedactedUrl(const std::string& url) {
  std::size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  std::size_t start = scheme + 3;
  std::size_t at = url.find('@', start);
  std::size_t end = url.find_first_of("/?", start);
  if (at == std::string::npos || (end != std::string::npos && at > end)) return url;
  std::size_t colon = url.find(':', start);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

std::string mfSchemaMismatch(const std::string& url, long long found) {
  return "catalogue " + mfRedactedUrl(url) + " has schema version " + std::to_string(found) +
         "; this nodra reads version " + std::to_string(kSchemaVersion);
}

std::int64_t mfSqlCount(std::size_t count) {
  return static_cast<std::int64_t>(std::min<std::size_t>(count, std::numeric_limits<std::int64_t>::max()));
}

SqlFilter mfBuildFilter(const Query& query, Dialect dialect) {
  SqlFilter filter;
  std::vector<std::string> terms;
  auto placeholder = [&](SqlValue value) {
    filter.mValues.push_back(std::move(value));
    return dialect == Dialect::kSqlite ? std::string("?") : "$" + std::to_string(filter.mValues.size());
  };
  auto text = [](const std::string& s) {
    SqlValue v;
    v.mText = s;
    return v;
  };
  auto real = [](double d) {
    SqlValue v;
    v.mKind = SqlValue::Kind::kReal;
    v.mReal = d;
    return v;
  };

  if (query.mText) {
    std::vector<std::string> words = mfWordsOf(*query.mText);
    if (words.empty()) filter.mNothing = true;
    if (dialect == Dialect::kSqlite) {
      // Each word quoted as an FTS5 string, so that no word reads as an operator.
      std::string match;
      for (const std::string& w : words) match += (match.empty() ? "\"" : " \"") + w + "\"";
      terms.push_back("c.id IN (SELECT rowid FROM channel_text WHERE channel_text MATCH " + placeholder(text(match)) +
                      ")");
    } else {
      std::string joined;
      for (const std::string& w : words) joined += (joined.empty() ? "" : " ") + w;
      terms.push_back("c.search @@ plainto_tsquery('simple', " + placeholder(text(joined)) + ")");
    }
  }
  if (query.mAccessPoint) terms.push_back("f.access_point = " + placeholder(text(*query.mAccessPoint)));
  if (query.mPath && !query.mPath->empty()) {
    if (dialect == Dialect::kSqlite) {
      // Byte order: 0xFF follows every byte of UTF-8 text.
      std::string p1 = placeholder(text(*query.mPath));
      terms.push_back("f.path >= " + p1 + " AND f.path < " + placeholder(text(*query.mPath + '\xff')));
    } else {
      terms.push_back("f.path LIKE " + placeholder(text(likePrefix(*query.mPath))) + " ESCAPE '\\'");
    }
  }
  if (query.mUnit) terms.push_back("c.unit = " + placeholder(text(*query.mUnit)));
  if (query.mLabel) {
    if (query.mLabel->find('*') == std::string::npos) {
      terms.push_back("c.label = " + placeholder(text(*query.mLabel)));
    } else if (dialect == Dialect::kSqlite) {
      terms.push_back("c.label GLOB " + placeholder(text(labelPattern(*query.mLabel, dialect))));
    } else {
      terms.push_back("c.label LIKE " + placeholder(text(labelPattern(*query.mLabel, dialect))) + " ESCAPE '\\'");
    }
  }
  if (query.mRate) {
    double tolerance = std::fabs(*query.mRate) * 1e-9;
    std::string low = placeholder(real(*query.mRate - tolerance));
    terms.push_back("c.rate BETWEEN " + low + " AND " + placeholder(real(*query.mRate + tolerance)));
  }
  if (query.mRecordedFrom) terms.push_back("f.recorded >= " + placeholder(text(*query.mRecordedFrom)));
  if (query.mRecordedTo) terms.push_back("f.recorded < " + placeholder(text(*query.mRecordedTo)));

  for (std::size_t i = 0; i < terms.size(); ++i) filter.mWhere += (i == 0 ? " WHERE " : " AND ") + terms[i];
  return filter;
}

}  // namespace TamblixHq::NODRA::Catalogue
