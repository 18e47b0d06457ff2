#include "CSqliteCatalogue.h"

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

#include "SqlFilter.h"

namespace TamblixHq::NODRA::Catalogue {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

const char* const kSchema[] = {
    "CREATE TABLE catalogue_schema(version INTEGER NOT NULL)",
    "CREATE TABLE files(id INTEGER PRIMARY KEY, access_point TEXT NOT NULL, path TEXT NOT NULL,"
    " version TEXT NOT NULL, recorded TEXT, error TEXT, served_by TEXT, UNIQUE(access_point, path))",
    "CREATE INDEX files_recorded ON files(recorded)",
    "CREATE TABLE annotations(file_id INTEGER NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL,"
    " type TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY(file_id, position)) WITHOUT ROWID",
    "CREATE TABLE channels(id INTEGER PRIMARY KEY, file_id INTEGER NOT NULL, number INTEGER NOT NULL,"
    " label TEXT NOT NULL, unit TEXT NOT NULL, unit_terms TEXT NOT NULL, rate REAL, value_count INTEGER NOT NULL,"
    " first_time REAL, spacing REAL, point TEXT NOT NULL, direction TEXT NOT NULL, n INTEGER NOT NULL,"
    " nan_count INTEGER NOT NULL, min REAL, max REAL, mean REAL, rms REAL, value_sum REAL, square_sum REAL)",
    "CREATE UNIQUE INDEX channels_file ON channels(file_id, number)",
    "CREATE INDEX channels_unit ON channels(unit, rate)",
    "CREATE INDEX channels_rate ON channels(rate)",
    "CREATE INDEX channels_label ON channels(label)",
    // Contentless: the words are kept in the index alone; 'ascii' splits them as
    // mfWordsOf does (ASCII letters and digits, and every non-ASCII byte, make words).
    "CREATE VIRTUAL TABLE channel_text USING fts5(words, content='', tokenize='ascii', detail=none)",
};


// Binds by position from 1; NaN is bound as NULL.
void bind(sqlite3_stmt* s, int i, const std::string& v) {
  sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}
void bind(sqlite3_stmt* s, int i, const std::optional<std::string>& v) {
  if (v) bind(s, i, *v);
  else sqlite3_bind_null(s, i);
}
void bind(sqlite3_stmt* s, int i, double v) {
  if (std::isnan(v)) sqlite3_bind_null(s, i);
  else sqlite3_bind_double(s, i, v);
}
void bind(sqlite3_stmt* s, int i, std::int64_t v) { sqlite3_bind_int64(s, i, v); }
void bind(sqlite3_stmt* s, int i, std::uint64_t v) { sqlite3_bind_int64(s, i, static_cast<std::int64_t>(v)); }

std::string textAt(sqlite3_stmt* s, int i) {
  auto p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(s, i))) : std::string();
}
std::optional<std::string> optionalTextAt(sqlite3_stmt* s, int i) {
  if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::nullopt;
  return textAt(s, i);
}
double realAt(sqlite3_stmt* s, int i) {
  return sqlite3_column_type(s, i) == SQLITE_NULL ? kNaN : sqlite3_column_double(s, i);
}
std::uint64_t countAt(sqlite3_stmt* s, int i) { return static_cast<std::uint64_t>(sqlite3_column_int64(s, i)); }

// Reads kChannelColumns from column `i` on.
ChannelEntry channelAt(sqlite3_stmt* s, int i) {
  struct Columns {
    sqlite3_stmt* s;
    std::string text(int j) const { return textAt(s, j); }
    double real(int j) const { return realAt(s, j); }
    std::uint64_t count(int j) const { return countAt(s, j); }
    std::int64_t integer(int j) const { return sqlite3_column_int64(s, j); }
  };
  return mfChannelFromColumns(Columns{s}, i);
}

void bindFilter(sqlite3_stmt* s, const SqlFilter& filter) {
  int i = 1;
  for (const SqlValue& v : filter.mValues) {
    switch (v.mKind) {
      case SqlValue::Kind::kText: bind(s, i, v.mText); break;
      case SqlValue::Kind::kReal: bind(s, i, v.mReal); break;
      case SqlValue::Kind::kInteger: bind(s, i, v.mInteger); break;
    }
    ++i;
  }
}

}  // namespace

// Resets a kept statement when the scope ends, whatever way it ends.
class CSqliteCatalogue::CStatement {
public:
  explicit CStatement(sqlite3_stmt* s) : mS(s) {}
  ~CStatement() {
    sqlite3_reset(mS);
    sqlite3_clear_bindings(mS);
  }
  CStatement(const CStatement&) = delete;
  CStatement& operator=(const CStatement&) = delete;
  operator sqlite3_stmt*() const { return mS; }

private:
  sqlite3_stmt* mS;
};

CSqliteCatalogue::CSqliteCatalogue(const std::string& path, const std::string& url) : mUrl(url) {
  int rc = sqlite3_open_v2(path.c_str(), &mDb, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string message = mDb ? sqlite3_errmsg(mDb) : sqlite3_errstr(rc);
    sqlite3_close(mDb);
    throw CatalogueError("cannot open catalogue " + url + ": " + message);
  }
  try {
    sqlite3_busy_timeout(mDb, 10000);
    // Connections opening a new catalogue at once (an index's readers, say) each ask for the
    // journal mode, which takes the file alone; SQLite answers BUSY at once there rather than
    // wait, so the asking is repeated for as long as the busy timeout.
    for (int tries = 0;; ++tries) {
      const int rc = sqlite3_exec(mDb, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK) break;
      if ((rc & 0xff) != SQLITE_BUSY || tries == 1000) mpFail("PRAGMA journal_mode=WAL");
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    mpExec("PRAGMA synchronous=NORMAL");
    // Reads through the page cache's memory rather than a call per page; a bounded cache.
    mpExec("PRAGMA mmap_size=1073741824");
    mpExec("PRAGMA cache_size=-32768");
    mpOpenSchema();
  } catch (...) {
    mpClose();
    throw;
  }
}

CSqliteCatalogue::~CSqliteCatalogue() {
  // Keeps the planner's statistics of the tables current (cheap when nothing changed).
  sqlite3_exec(mDb, "PRAGMA optimize", nullptr, nullptr, nullptr);
  mpClose();
}

void CSqliteCatalogue::mpClose() {
  // A connection with statements left open would not close (and keep its file open).
  for (auto& [sql, statement] : mStatements) sqlite3_finalize(statement);
  mStatements.clear();
  sqlite3_close(mDb);
  mDb = nullptr;
}

void CSqliteCatalogue::mpFail(const std::string& what) const {
  throw CatalogueError("catalogue " + mUrl + ": " + what + ": " + sqlite3_errmsg(mDb));
}

void CSqliteCatalogue::mpExec(const std::string& sql) {
  if (sqlite3_exec(mDb, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) mpFail(sql);
}

sqlite3_stmt* CSqliteCatalogue::mfStatement(const std::string& sql) {
  auto found = mStatements.find(sql);
  if (found != mStatements.end()) return found->second;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v3(mDb, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
    mpFail("cannot prepare a statement");
  mStatements.emplace(sql, statement);
  return statement;
}

namespace {

// A transaction that rolls back unless committed.
class CTransaction {
public:
  CTransaction(sqlite3* db, const char* begin) : mDb(db) {
    if (sqlite3_exec(mDb, begin, nullptr, nullptr, nullptr) != SQLITE_OK)
      throw CatalogueError(std::string("cannot begin a transaction: ") + sqlite3_errmsg(mDb));
  }
  ~CTransaction() {
    if (!mDone) sqlite3_exec(mDb, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  CTransaction(const CTransaction&) = delete;
  CTransaction& operator=(const CTransaction&) = delete;
  void mpCommit() {
    if (sqlite3_exec(mDb, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw CatalogueError(std::string("cannot commit: ") + sqlite3_errmsg(mDb));
    mDone = true;
  }

private:
  sqlite3* mDb;
  bool mDone = false;
};

}  // namespace

void CSqliteCatalogue::mpOpenSchema() {
  CTransaction transaction(mDb, "BEGIN IMMEDIATE");
  int tables = 0;
  bool ours = false;
  {
    CStatement s(mfStatement("SELECT name FROM sqlite_master WHERE type = 'table'"));
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      ++tables;
      if (textAt(s, 0) == "catalogue_schema") ours = true;
    }
    if (rc != SQLITE_DONE) mpFail("cannot read the tables");
  }
  if (ours) {
    CStatement s(mfStatement("SELECT version FROM catalogue_schema"));
    if (sqlite3_step(s) != SQLITE_ROW) mpFail("cannot read the schema version");
    long long version = sqlite3_column_int64(s, 0);
    if (version != kSchemaVersion) throw CatalogueError(mfSchemaMismatch(mUrl, version));
    return;
  }
  if (tables > 0) throw CatalogueError("cannot open catalogue " + mUrl + ": a database of something else");
  for (const char* sql : kSchema) mpExec(sql);
  mpExec("INSERT INTO catalogue_schema(version) VALUES(" + std::to_string(kSchemaVersion) + ")");
  transaction.mpCommit();
}

std::optional<std::string> CSqliteCatalogue::mfVersionOf(const std::string& accessPoint, const std::string& path) {
  CStatement s(mfStatement("SELECT version FROM files WHERE access_point = ? AND path = ?"));
  bind(s, 1, accessPoint);
  bind(s, 2, path);
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) return textAt(s, 0);
  if (rc != SQLITE_DONE) mpFail("cannot read a file's version");
  return std::nullopt;
}

void CSqliteCatalogue::mpRemoveContents(std::int64_t fileId, const std::string& accessPoint,
                                        const std::string& path) {
  // A contentless index forgets a row only when given the words it was given.
  {
    CStatement s(mfStatement("SELECT id, label, point FROM channels WHERE file_id = ?"));
    bind(s, 1, fileId);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      CStatement d(mfStatement("INSERT INTO channel_text(channel_text, rowid, words) VALUES('delete', ?, ?)"));
      bind(d, 1, static_cast<std::int64_t>(sqlite3_column_int64(s, 0)));
      bind(d, 2, mfSearchText(textAt(s, 1), textAt(s, 2), accessPoint, path));
      if (sqlite3_step(d) != SQLITE_DONE) mpFail("cannot remove a channel's words");
    }
    if (rc != SQLITE_DONE) mpFail("cannot read a file's channels");
  }
  for (const char* sql : {"DELETE FROM channels WHERE file_id = ?", "DELETE FROM annotations WHERE file_id = ?"}) {
    CStatement s(mfStatement(sql));
    bind(s, 1, fileId);
    if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot remove a file's entries");
  }
}

void CSqliteCatalogue::mpPut(const FileEntry& file) {
  CTransaction transaction(mDb, "BEGIN IMMEDIATE");
  std::int64_t fileId;
  {
    CStatement s(mfStatement("SELECT id FROM files WHERE access_point = ? AND path = ?"));
    bind(s, 1, file.mAccessPoint);
    bind(s, 2, file.mPath);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) mpFail("cannot read a file");
    fileId = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
  }
  if (fileId >= 0) {
    mpRemoveContents(fileId, file.mAccessPoint, file.mPath);
    CStatement s(mfStatement("UPDATE files SET version = ?, recorded = ?, error = ?, served_by = ? WHERE id = ?"));
    bind(s, 1, file.mVersion);
    bind(s, 2, file.mRecorded);
    bind(s, 3, file.mError);
    bind(s, 4, file.mServedBy);
    bind(s, 5, fileId);
    if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot record a file");
  } else {
    CStatement s(
        mfStatement("INSERT INTO files(access_point, path, version, recorded, error, served_by)"
                    " VALUES(?, ?, ?, ?, ?, ?)"));
    bind(s, 1, file.mAccessPoint);
    bind(s, 2, file.mPath);
    bind(s, 3, file.mVersion);
    bind(s, 4, file.mRecorded);
    bind(s, 5, file.mError);
    bind(s, 6, file.mServedBy);
    if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot record a file");
    fileId = sqlite3_last_insert_rowid(mDb);
  }
  std::int64_t position = 0;
  for (const Annotation& a : file.mAnnotations) {
    CStatement s(mfStatement("INSERT INTO annotations(file_id, position, name, type, value) VALUES(?, ?, ?, ?, ?)"));
    bind(s, 1, fileId);
    bind(s, 2, position++);
    bind(s, 3, a.mName);
    bind(s, 4, a.mType);
    bind(s, 5, a.mValue);
    if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot record an annotation");
  }
  for (const ChannelEntry& c : file.mChannels) {
    {
      CStatement s(mfStatement(
          "INSERT INTO channels(file_id, number, label, unit, unit_terms, rate, value_count, first_time, spacing,"
          " point, direction, n, nan_count, min, max, mean, rms, value_sum, square_sum)"
          " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
      bind(s, 1, fileId);
      bind(s, 2, c.mNumber);
      bind(s, 3, c.mLabel);
      bind(s, 4, c.mUnit);
      bind(s, 5, c.mUnitTerms);
      bind(s, 6, c.mRate);
      bind(s, 7, c.mValues);
      bind(s, 8, c.mFirstTime);
      bind(s, 9, c.mSpacing);
      bind(s, 10, c.mPoint);
      bind(s, 11, c.mDirection);
      bind(s, 12, c.mStats.mCount);
      bind(s, 13, c.mStats.mNaN);
      bind(s, 14, c.mStats.mMin);
      bind(s, 15, c.mStats.mMax);
      bind(s, 16, c.mStats.mMean);
      bind(s, 17, c.mStats.mRms);
      bind(s, 18, c.mStats.mSum);
      bind(s, 19, c.mStats.mSumOfSquares);
      if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot record channel " + std::to_string(c.mNumber));
    }
    CStatement s(mfStatement("INSERT INTO channel_text(rowid, words) VALUES(?, ?)"));
    bind(s, 1, static_cast<std::int64_t>(sqlite3_last_insert_rowid(mDb)));
    bind(s, 2, mfSearchText(c.mLabel, c.mPoint, file.mAccessPoint, file.mPath));
    if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot record a channel's words");
  }
  transaction.mpCommit();
}

std::size_t CSqliteCatalogue::mpRemoveOthers(const std::string& accessPoint,
                                            const std::vector<std::string>& present) {
  CTransaction transaction(mDb, "BEGIN IMMEDIATE");
  mpExec("CREATE TEMP TABLE IF NOT EXISTS present_paths(path TEXT PRIMARY KEY) WITHOUT ROWID");
  mpExec("DELETE FROM present_paths");
  for (const std::string& path : present) {
    CStatement s(mfStatement("INSERT OR IGNORE INTO present_paths(path) VALUES(?)"));
    bind(s, 1, path);
    if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot note a present file");
  }
  std::vector<std::pair<std::int64_t, std::string>> gone;
  {
    CStatement s(mfStatement(
        "SELECT id, path FROM files WHERE access_point = ? AND path NOT IN (SELECT path FROM present_paths)"));
    bind(s, 1, accessPoint);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) gone.emplace_back(sqlite3_column_int64(s, 0), textAt(s, 1));
    if (rc != SQLITE_DONE) mpFail("cannot read the files of an access point");
  }
  for (const auto& [id, path] : gone) {
    mpRemoveContents(id, accessPoint, path);
    CStatement s(mfStatement("DELETE FROM files WHERE id = ?"));
    bind(s, 1, id);
    if (sqlite3_step(s) != SQLITE_DONE) mpFail("cannot remove a file");
  }
  mpExec("DELETE FROM present_paths");
  transaction.mpCommit();
  return gone.size();
}

std::optional<FileEntry> CSqliteCatalogue::mfFile(const std::string& accessPoint, const std::string& path) {
  CTransaction transaction(mDb, "BEGIN");  // one snapshot of the file
  FileEntry file;
  std::int64_t fileId;
  {
    CStatement s(mfStatement(
        "SELECT id, version, recorded, error, served_by FROM files WHERE access_point = ? AND path = ?"));
    bind(s, 1, accessPoint);
    bind(s, 2, path);
    int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) return std::nullopt;
    if (rc != SQLITE_ROW) mpFail("cannot read a file");
    fileId = sqlite3_column_int64(s, 0);
    file.mAccessPoint = accessPoint;
    file.mPath = path;
    file.mVersion = textAt(s, 1);
    file.mRecorded = optionalTextAt(s, 2);
    file.mError = optionalTextAt(s, 3);
    file.mServedBy = optionalTextAt(s, 4);
  }
  {
    CStatement s(mfStatement("SELECT name, type, value FROM annotations WHERE file_id = ? ORDER BY position"));
    bind(s, 1, fileId);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) file.mAnnotations.push_back({textAt(s, 0), textAt(s, 1), textAt(s, 2)});
    if (rc != SQLITE_DONE) mpFail("cannot read annotations");
  }
  CStatement s(mfStatement(std::string("SELECT ") + kChannelColumns + " FROM channels c WHERE c.file_id = ? ORDER BY c.number"));
  bind(s, 1, fileId);
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) file.mChannels.push_back(channelAt(s, 0));
  if (rc != SQLITE_DONE) mpFail("cannot read channels");
  transaction.mpCommit();
  return file;
}

std::vector<ChannelRow> CSqliteCatalogue::mfFind(const Query& query) {
  SqlFilter filter = mfBuildFilter(query, Dialect::kSqlite);
  std::vector<ChannelRow> rows;
  if (filter.mNothing || query.mLimit == 0) return rows;
  // The page is chosen by row id first, so that the sort carries keys alone, not rows.
  CStatement s(mfStatement(std::string("SELECT f.access_point, f.path, f.version, f.recorded, f.served_by, ") +
                           kChannelColumns +
                           " FROM (SELECT c.id FROM channels c JOIN files f ON f.id = c.file_id" + filter.mWhere +
                           " ORDER BY f.access_point, f.path, c.number LIMIT ? OFFSET ?) page"
                           " JOIN channels c ON c.id = page.id JOIN files f ON f.id = c.file_id"
                           " ORDER BY f.access_point, f.path, c.number"));
  bindFilter(s, filter);
  int next = static_cast<int>(filter.mValues.size()) + 1;
  bind(s, next, mfSqlCount(query.mLimit));
  bind(s, next + 1, mfSqlCount(query.mOffset));
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW)
    rows.push_back({textAt(s, 0), textAt(s, 1), textAt(s, 2), optionalTextAt(s, 3), channelAt(s, 5),
                    optionalTextAt(s, 4)});
  if (rc != SQLITE_DONE) mpFail("cannot find channels");
  return rows;
}

std::vector<SummaryRow> CSqliteCatalogue::mfSummary(const Query& query) {
  SqlFilter filter = mfBuildFilter(query, Dialect::kSqlite);
  std::vector<SummaryRow> rows;
  if (filter.mNothing || query.mLimit == 0) return rows;
  CStatement s(mfStatement(
      "SELECT c.label, c.unit, COUNT(DISTINCT c.file_id), COUNT(*), SUM(c.n), SUM(c.nan_count), MIN(c.min),"
      " MAX(c.max), TOTAL(c.value_sum), TOTAL(c.square_sum) FROM channels c JOIN files f ON f.id = c.file_id" +
      filter.mWhere + " GROUP BY c.label, c.unit ORDER BY c.label, c.unit LIMIT ? OFFSET ?"));
  bindFilter(s, filter);
  int next = static_cast<int>(filter.mValues.size()) + 1;
  bind(s, next, mfSqlCount(query.mLimit));
  bind(s, next + 1, mfSqlCount(query.mOffset));
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    SummaryRow r;
    r.mLabel = textAt(s, 0);
    r.mUnit = textAt(s, 1);
    r.mFiles = countAt(s, 2);
    r.mChannels = countAt(s, 3);
    r.mValues = countAt(s, 4);
    r.mNaN = countAt(s, 5);
    r.mMin = realAt(s, 6);
    r.mMax = realAt(s, 7);
    r.mSum = realAt(s, 8);
    r.mSumOfSquares = realAt(s, 9);
    rows.push_back(std::move(r));
  }
  if (rc != SQLITE_DONE) mpFail("cannot summarise channels");
  return rows;
}

std::uint64_t CSqliteCatalogue::mfCountFiles() {
  CStatement s(mfStatement("SELECT COUNT(*) FROM files"));
  if (sqlite3_step(s) != SQLITE_ROW) mpFail("cannot count files");
  return countAt(s, 0);
}

}  // namespace TamblixHq::NODRA::Catalogue
