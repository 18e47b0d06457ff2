// The catalogue of a fleet of files: what each file holds (its annotations, channels and
// their statistics), recorded once when the file is indexed, so that a query over millions
// of channels answers without opening a file. Two back-ends behind one interface: SQLite
// (one file, embedded) and PostgreSQL (shared by several servers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace TamblixHq::NODRA::Catalogue {

// A catalogue that cannot be opened, read or written; the message says which and why.
class CatalogueError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct Annotation {
  std::string mName;
  std::string mType;
  std::string mValue;  // as text
};

// What the values of a channel amount to. NaN values are counted in mCount and on their own
// in mNaN and left out of every other figure. mSum and mSumOfSquares combine exactly across
// channels and files; fleet figures are computed from them, never from means. A figure
// without any value is NaN (stored as NULL).
struct ChannelStatistics {
  std::uint64_t mCount = 0;
  std::uint64_t mNaN = 0;
  double mMin = 0;
  double mMax = 0;
  double mMean = 0;
  double mRms = 0;
  double mSum = 0;
  double mSumOfSquares = 0;
};

struct ChannelEntry {
  std::int64_t mNumber = 0;
  std::string mLabel;
  std::string mUnit;
  std::string mUnitTerms;  // the unit in SI base terms, e.g. "L1 M1 T-2" (or JSON)
  double mRate = 0;        // Hz
  std::uint64_t mValues = 0;
  double mFirstTime = 0;  // s
  double mSpacing = 0;    // s
  std::string mPoint;
  std::string mDirection;  // e.g. "+Z"
  ChannelStatistics mStats;
};

struct FileEntry {
  std::string mAccessPoint;
  std::string mPath;     // within the access point: "SUB/NAME"
  std::string mVersion;  // opaque to the catalogue; compared by the indexer
  std::vector<Annotation> mAnnotations;
  std::optional<std::string> mRecorded;  // ISO 8601, where the file's date reads
  std::optional<std::string> mError;     // the file could not be read; then no channels
  std::vector<ChannelEntry> mChannels;
  std::optional<std::string> mServedBy;  // the URL of the viewer that serves the file, if one does
};

// The filters of a query; a row must pass all that are set. Texts compare byte for byte.
struct Query {
  // Every word (run of letters and digits, any case) must occur in the channel's label, its
  // measurement point or its file's "ACCESS_POINT/PATH": "wheel force" finds
  // "Front left:wheel force:+Z". A text without a word finds nothing.
  std::optional<std::string> mText;
  std::optional<std::string> mAccessPoint;  // exact
  std::optional<std::string> mPath;         // prefix of the path within the access point
  std::optional<std::string> mUnit;         // exact
  std::optional<std::string> mLabel;        // exact, or a pattern where * stands for any text
  std::optional<double> mRate;              // Hz, equal to within a relative 1e-9
  // Half-open range [from, to) of the recorded moment, compared as ISO 8601 text; files
  // without a recorded moment pass no range.
  std::optional<std::string> mRecordedFrom;
  std::optional<std::string> mRecordedTo;
  std::size_t mLimit = 100;
  std::size_t mOffset = 0;
};

struct ChannelRow {
  std::string mAccessPoint;
  std::string mPath;
  std::string mVersion;
  std::optional<std::string> mRecorded;
  ChannelEntry mChannel;
  std::optional<std::string> mServedBy;
};

// The fleet's range of one label in one unit over the channels a query passes.
struct SummaryRow {
  std::string mLabel;
  std::string mUnit;
  std::uint64_t mFiles = 0;
  std::uint64_t mChannels = 0;
  std::uint64_t mValues = 0;  // sum of the channels' statistics counts
  std::uint64_t mNaN = 0;
  double mMin = 0;  // NaN without any value
  double mMax = 0;
  double mSum = 0;
  double mSumOfSquares = 0;

  double mfMean() const;  // from the sums; NaN without any value
  double mfRms() const;
};

// One connection to a catalogue. An object serves one thread at a time; open one per thread
// (SQLite in WAL mode lets readers and a writer work at once).
class CCatalogue {
public:
  virtual ~CCatalogue();

  // The version recorded of a file, nullopt for a file not in the catalogue: the indexer
  // reads again only files whose version changed.
  virtual std::optional<std::string> mfVersionOf(const std::string& accessPoint, const std::string& path) = 0;
  // Records a file, replacing all that was recorded of it, in one transaction.
  virtual void mpPut(const FileEntry& file) = 0;
  // Removes the files of an access point whose paths are not in `present`; answers how many.
  virtual std::size_t mpRemoveOthers(const std::string& accessPoint, const std::vector<std::string>& present) = 0;
  // All that is recorded of one file, nullopt for a file not in the catalogue.
  virtual std::optional<FileEntry> mfFile(const std::string& accessPoint, const std::string& path) = 0;
  // Channels that pass the query, by access point, path and number; one page of them.
  virtual std::vector<ChannelRow> mfFind(const Query& query) = 0;
  // Per label and unit (in that order) over the channels that pass the query; one page.
  virtual std::vector<SummaryRow> mfSummary(const Query& query) = 0;
  virtual std::uint64_t mfCountFiles() = 0;
};

// The version of the tables this program reads and writes.
constexpr int kSchemaVersion = 1;

// Opens (creating on first use) the catalogue a URL names: "PATH" or "sqlite:PATH" for
// SQLite, "postgresql://..." or "postgres://..." (libpq's URI) for PostgreSQL. Throws
// CatalogueError for a URL it cannot open, and for a catalogue of another schema version:
// "catalogue X has schema version N; this nodra reads version M". Passwords in URLs are
// not repeated in messages.
std::unique_ptr<CCatalogue> mfOpenCatalogue(const std::string& url);

}  // namespace TamblixHq::NODRA::Catalogue
