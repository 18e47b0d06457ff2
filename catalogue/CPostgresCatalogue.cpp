#include "CPostgresCatalogue.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "SqlFilter.h"

namespace TamblixHq::NODRA::Catalogue {

namespace {

using Parameters = std::vector<std::optional<std::string>>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Any number of servers may open a new catalogue at once; one creates the tables.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7305102115)";

const char* const kSchema[] = {
    "CREATE TABLE catalogue_schema(version integer NOT NULL)",
    "CREATE TABLE files(id bigserial PRIMARY KEY, access_point text COLLATE \"C\" NOT NULL,"
    " path text COLLATE \"C\" NOT NULL, version text NOT NULL, recorded text COLLATE \"C\", error text, served_by text,"
    " UNIQUE(access_point, path))",
    "CREATE INDEX files_recorded ON files(recorded)",
    "CREATE TABLE annotations(file_id bigint NOT NULL REFERENCES files(id) ON DELETE CASCADE,"
    " position integer NOT NULL, name text NOT NULL, type text NOT NULL, value text NOT NULL,"
    " PRIMARY KEY(file_id, position))",
    "CREATE TABLE channels(file_id bigint NOT NULL REFERENCES files(id) ON DELETE CASCADE, number bigint NOT NULL,"
    " label text COLLATE \"C\" NOT NULL, unit text COLLATE \"C\" NOT NULL, unit_terms text NOT NULL,"
    " rate double precision, value_count bigint NOT NULL, first_time double precision, spacing double precision,"
    " point text NOT NULL, direction text NOT NULL, n bigint NOT NULL, nan_count bigint NOT NULL,"
    " min double precision, max double precision, mean double precision, rms double precision,"
    " value_sum double precision, square_sum double precision, search tsvector NOT NULL,"
    " PRIMARY KEY(file_id, number))",
    "CREATE INDEX channels_unit ON channels(unit, rate)",
    "CREATE INDEX channels_rate ON channels(rate)",
    "CREATE INDEX channels_label ON channels(label)",
    "CREATE INDEX channels_search ON channels USING gin(search)",
};


// Doubles as PostgreSQL reads them back exactly; NaN as NULL, as in SQLite.
std::optional<std::string> realParameter(double v) {
  if (std::isnan(v)) return std::nullopt;
  if (std::isinf(v)) return std::string(v > 0 ? "Infinity" : "-Infinity");
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  return std::string(text);
}

std::string escapeArrayElement(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

}  // namespace

class CPostgresCatalogue::CResult {
public:
  explicit CResult(PGresult* r) : mR(r) {}
  ~CResult() { PQclear(mR); }
  CResult(CResult&& o) noexcept : mR(o.mR) { o.mR = nullptr; }
  CResult(const CResult&) = delete;
  CResult& operator=(const CResult&) = delete;

  int mfRows() const { return PQntuples(mR); }
  bool mfNull(int row, int column) const { return PQgetisnull(mR, row, column) != 0; }
  std::string mfText(int row, int column) const {
    return std::string(PQgetvalue(mR, row, column), static_cast<std::size_t>(PQgetlength(mR, row, column)));
  }
  std::optional<std::string> mfOptionalText(int row, int column) const {
    if (mfNull(row, column)) return std::nullopt;
    return mfText(row, column);
  }
  double mfReal(int row, int column) const {
    return mfNull(row, column) ? kNaN : std::strtod(PQgetvalue(mR, row, column), nullptr);
  }
  std::int64_t mfInteger(int row, int column) const {
    return mfNull(row, column) ? 0 : std::strtoll(PQgetvalue(mR, row, column), nullptr, 10);
  }
  std::uint64_t mfCount(int row, int column) const { return static_cast<std::uint64_t>(mfInteger(row, column)); }

  ChannelEntry mfChannel(int row, int i) const {
    struct Columns {
      const CResult& r;
      int row;
      std::string text(int j) const { return r.mfText(row, j); }
      double real(int j) const { return r.mfReal(row, j); }
      std::uint64_t count(int j) const { return r.mfCount(row, j); }
      std::int64_t integer(int j) const { return r.mfInteger(row, j); }
    };
    return mfChannelFromColumns(Columns{*this, row}, i);
  }

private:
  friend class CPostgresCatalogue;
  PGresult* mR;
};

// A transaction that rolls back unless committed.
class CPostgresCatalogue::CTransaction {
public:
  explicit CTransaction(CPostgresCatalogue& catalogue) : mCatalogue(catalogue) { mCatalogue.mfExec("BEGIN"); }
  ~CTransaction() {
    if (!mDone) PQclear(PQexec(mCatalogue.mConnection, "ROLLBACK"));
  }
  CTransaction(const CTransaction&) = delete;
  CTransaction& operator=(const CTransaction&) = delete;
  void mpCommit() {
    mDone = true;
    mCatalogue.mfExec("COMMIT");
  }

private:
  CPostgresCatalogue& mCatalogue;
  bool mDone = false;
};

CPostgresCatalogue::CPostgresCatalogue(const std::string& url) : mUrl(mfRedactedUrl(url)) {
  mConnection = PQconnectdb(url.c_str());
  if (mConnection == nullptr || PQstatus(mConnection) != CONNECTION_OK) {
    std::string message = mConnection ? PQerrorMessage(mConnection) : "out of memory";
    while (!message.empty() && message.back() == '\n') message.pop_back();
    PQfinish(mConnection);
    throw CatalogueError("cannot open catalogue " + mUrl + ": " + message);
  }
  // The server's notices (of tables that exist already and the like) are not ours to print.
  PQsetNoticeProcessor(mConnection, [](void*, const char*) {}, nullptr);
  try {
    mpOpenSchema();
  } catch (...) {
    PQfinish(mConnection);
    throw;
  }
}

CPostgresCatalogue::~CPostgresCatalogue() { PQfinish(mConnection); }

CPostgresCatalogue::CResult CPostgresCatalogue::mfExec(const std::string& sql, const Parameters& parameters) {
  std::vector<const char*> values;
  values.reserve(parameters.size());
  for (const auto& p : parameters) values.push_back(p ? p->c_str() : nullptr);
  CResult result(PQexecParams(mConnection, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                              nullptr, nullptr, 0));
  ExecStatusType status = PQresultStatus(result.mR);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    std::string message = PQerrorMessage(mConnection);
    while (!message.empty() && message.back() == '\n') message.pop_back();
    throw CatalogueError("catalogue " + mUrl + ": " + message);
  }
  return result;
}

void CPostgresCatalogue::mpOpenSchema() {
  CTransaction transaction(*this);
  mfExec(kSchemaLock);
  if (mfExec("SELECT to_regclass('catalogue_schema') IS NOT NULL").mfText(0, 0) == "t") {
    CResult version = mfExec("SELECT version FROM catalogue_schema");
    long long found = version.mfRows() > 0 ? version.mfInteger(0, 0) : -1;
    if (found != kSchemaVersion) throw CatalogueError(mfSchemaMismatch(mUrl, found));
    return;
  }
  for (const char* sql : kSchema) mfExec(sql);
  mfExec("INSERT INTO catalogue_schema(version) VALUES($1)", {std::to_string(kSchemaVersion)});
  transaction.mpCommit();
}

std::optional<std::string> CPostgresCatalogue::mfVersionOf(const std::string& accessPoint, const std::string& path) {
  CResult r = mfExec("SELECT version FROM files WHERE access_point = $1 AND path = $2", {accessPoint, path});
  if (r.mfRows() == 0) return std::nullopt;
  return r.mfText(0, 0);
}

void CPostgresCatalogue::mpPut(const FileEntry& file) {
  CTransaction transaction(*this);
  // A row locked by its upsert: two servers putting one file take turns.
  std::string fileId =
      mfExec("INSERT INTO files(access_point, path, version, recorded, error, served_by) VALUES($1, $2, $3, $4, $5, $6)"
             " ON CONFLICT (access_point, path) DO UPDATE SET version = EXCLUDED.version,"
             " recorded = EXCLUDED.recorded, error = EXCLUDED.error, served_by = EXCLUDED.served_by RETURNING id",
             {file.mAccessPoint, file.mPath, file.mVersion, file.mRecorded, file.mError, file.mServedBy})
          .mfText(0, 0);
  mfExec("DELETE FROM channels WHERE file_id = $1", {fileId});
  mfExec("DELETE FROM annotations WHERE file_id = $1", {fileId});
  int position = 0;
  for (const Annotation& a : file.mAnnotations)
    mfExec("INSERT INTO annotations(file_id, position, name, type, value) VALUES($1, $2, $3, $4, $5)",
           {fileId, std::to_string(position++), a.mName, a.mType, a.mValue});
  // All channels in one statement, a column an array: one round trip whatever their number.
  const int kColumns = 19;
  std::vector<std::string> columns(kColumns, "{");
  for (const ChannelEntry& c : file.mChannels) {
    const std::optional<std::string> values[kColumns] = {
        std::to_string(c.mNumber), c.mLabel, c.mUnit, c.mUnitTerms, realParameter(c.mRate), std::to_string(c.mValues),
        realParameter(c.mFirstTime), realParameter(c.mSpacing), c.mPoint, c.mDirection, std::to_string(c.mStats.mCount),
        std::to_string(c.mStats.mNaN), realParameter(c.mStats.mMin), realParameter(c.mStats.mMax), realParameter(c.mStats.mMean),
        realParameter(c.mStats.mRms), realParameter(c.mStats.mSum), realParameter(c.mStats.mSumOfSquares),
        mfSearchText(c.mLabel, c.mPoint, file.mAccessPoint, file.mPath)};
    for (int i = 0; i < kColumns; ++i) {
      if (columns[i].size() > 1) columns[i] += ',';
      columns[i] += values[i] ? escapeArrayElement(*values[i]) : "NULL";
    }
  }
  if (!file.mChannels.empty()) {
    Parameters parameters{fileId};
    for (std::string& column : columns) parameters.push_back(column + "}");
    mfExec("INSERT INTO channels(file_id, number, label, unit, unit_terms, rate, value_count, first_time, spacing,"
           " point, direction, n, nan_count, min, max, mean, rms, value_sum, square_sum, search)"
           " SELECT $1, t.number, t.label, t.unit, t.unit_terms, t.rate, t.value_count, t.first_time, t.spacing,"
           " t.point, t.direction, t.n, t.nan_count, t.min, t.max, t.mean, t.rms, t.value_sum, t.square_sum,"
           " to_tsvector('simple', t.words)"
           " FROM unnest($2::bigint[], $3::text[], $4::text[], $5::text[], $6::float8[], $7::bigint[], $8::float8[],"
           " $9::float8[], $10::text[], $11::text[], $12::bigint[], $13::bigint[], $14::float8[], $15::float8[],"
           " $16::float8[], $17::float8[], $18::float8[], $19::float8[], $20::text[])"
           " AS t(number, label, unit, unit_terms, rate, value_count, first_time, spacing, point, direction, n,"
           " nan_count, min, max, mean, rms, value_sum, square_sum, words)",
           parameters);
  }
  transaction.mpCommit();
}

std::size_t CPostgresCatalogue::mpRemoveOthers(const std::string& accessPoint,
                                              const std::vector<std::string>& present) {
  std::string array = "{";
  for (std::size_t i = 0; i < present.size(); ++i) array += (i ? "," : "") + escapeArrayElement(present[i]);
  array += "}";
  // NOT IN over a subquery is hashed: linear in the files and the paths.
  CResult r = mfExec("DELETE FROM files WHERE access_point = $1 AND path NOT IN (SELECT unnest($2::text[]))",
                     {accessPoint, array});
  return static_cast<std::size_t>(std::strtoull(PQcmdTuples(r.mR), nullptr, 10));
}

std::optional<FileEntry> CPostgresCatalogue::mfFile(const std::string& accessPoint, const std::string& path) {
  CTransaction transaction(*this);
  mfExec("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ");  // one snapshot of the file
  CResult f = mfExec("SELECT id, version, recorded, error, served_by FROM files WHERE access_point = $1 AND path = $2",
                     {accessPoint, path});
  if (f.mfRows() == 0) return std::nullopt;
  FileEntry file;
  file.mAccessPoint = accessPoint;
  file.mPath = path;
  std::string fileId = f.mfText(0, 0);
  file.mVersion = f.mfText(0, 1);
  file.mRecorded = f.mfOptionalText(0, 2);
  file.mError = f.mfOptionalText(0, 3);
  file.mServedBy = f.mfOptionalText(0, 4);
  CResult a = mfExec("SELECT name, type, value FROM annotations WHERE file_id = $1 ORDER BY position", {fileId});
  for (int i = 0; i < a.mfRows(); ++i) file.mAnnotations.push_back({a.mfText(i, 0), a.mfText(i, 1), a.mfText(i, 2)});
  CResult c = mfExec(std::string("SELECT ") + kChannelColumns + " FROM channels c WHERE c.file_id = $1 ORDER BY c.number",
                     {fileId});
  for (int i = 0; i < c.mfRows(); ++i) file.mChannels.push_back(c.mfChannel(i, 0));
  transaction.mpCommit();
  return file;
}

namespace {

Parameters parametersOf(const SqlFilter& filter, const Query& query) {
  Parameters p;
  for (const SqlValue& v : filter.mValues) {
    switch (v.mKind) {
      case SqlValue::Kind::kText: p.push_back(v.mText); break;
      case SqlValue::Kind::kReal: p.push_back(realParameter(v.mReal)); break;
      case SqlValue::Kind::kInteger: p.push_back(std::to_string(v.mInteger)); break;
    }
  }
  p.push_back(std::to_string(mfSqlCount(query.mLimit)));
  p.push_back(std::to_string(mfSqlCount(query.mOffset)));
  return p;
}

std::string paging(const SqlFilter& filter) {
  std::size_t n = filter.mValues.size();
  return " LIMIT $" + std::to_string(n + 1) + " OFFSET $" + std::to_string(n + 2);
}

}  // namespace

std::vector<ChannelRow> CPostgresCatalogue::mfFind(const Query& query) {
  SqlFilter filter = mfBuildFilter(query, Dialect::kPostgres);
  std::vector<ChannelRow> rows;
  if (filter.mNothing || query.mLimit == 0) return rows;
  CResult r = mfExec(std::string("SELECT f.access_point, f.path, f.version, f.recorded, f.served_by, ") + kChannelColumns +
                         " FROM channels c JOIN files f ON f.id = c.file_id" + filter.mWhere +
                         " ORDER BY f.access_point, f.path, c.number" + paging(filter),
                     parametersOf(filter, query));
  for (int i = 0; i < r.mfRows(); ++i)
    rows.push_back({r.mfText(i, 0), r.mfText(i, 1), r.mfText(i, 2), r.mfOptionalText(i, 3), r.mfChannel(i, 5),
                    r.mfOptionalText(i, 4)});
  return rows;
}

std::vector<SummaryRow> CPostgresCatalogue::mfSummary(const Query& query) {
  SqlFilter filter = mfBuildFilter(query, Dialect::kPostgres);
  std::vector<SummaryRow> rows;
  if (filter.mNothing || query.mLimit == 0) return rows;
  CResult r = mfExec(
      "SELECT c.label, c.unit, COUNT(DISTINCT c.file_id), COUNT(*), SUM(c.n), SUM(c.nan_count), MIN(c.min),"
      " MAX(c.max), COALESCE(SUM(c.value_sum), 0), COALESCE(SUM(c.square_sum), 0)"
      " FROM channels c JOIN files f ON f.id = c.file_id" +
          filter.mWhere + " GROUP BY c.label, c.unit ORDER BY c.label, c.unit" + paging(filter),
      parametersOf(filter, query));
  for (int i = 0; i < r.mfRows(); ++i) {
    SummaryRow row;
    row.mLabel = r.mfText(i, 0);
    row.mUnit = r.mfText(i, 1);
    row.mFiles = r.mfCount(i, 2);
    row.mChannels = r.mfCount(i, 3);
    row.mValues = r.mfCount(i, 4);
    row.mNaN = r.mfCount(i, 5);
    row.mMin = r.mfReal(i, 6);
    row.mMax = r.mfReal(i, 7);
    row.mSum = r.mfReal(i, 8);
    row.mSumOfSquares = r.mfReal(i, 9);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::uint64_t CPostgresCatalogue::mfCountFiles() { return mfExec("SELECT COUNT(*) FROM files").mfCount(0, 0); }

}  // namespace TamblixHq::NODRA::Catalogue
