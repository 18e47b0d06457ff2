// Rainflow counting of one channel of several files, each counted by its server next to
// the data (one count_rainflow call per file), combined here with its repetitions; and
// the counts' text table, JSON document and matrix CSV. doc/rainflow.md defines them.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/Rainflow.h"
#include "clients/cpp/FileListing.h"
#include "host/framework/CHostOrb.h"

namespace TamblixHq::NODRA::Client {

// A file of a duty cycle and how many times it counts.
struct RainflowSource {
  std::string mFile;
  double mRepeats = 1;
};

// FILE[:REPEATS]: a last ":" followed by a number above 0 gives the repetitions (1
// otherwise, and the whole text is the file). Throws UsageError for ":" followed by a
// number that is not above 0 or not finite.
RainflowSource mfParseRainflowSource(const std::string& text);

// Reversals of a file's residue that a run keeps and lists; the residue's length is kept
// whole. A signal whose swings keep shrinking leaves every reversal in its residue (up to
// a million a file), which no reader of a listing needs.
constexpr std::size_t kListedResidue = 4096;

// One file's count; its result's residue cut to kListedResidue reversals.
struct RainflowFileCount {
  RainflowSource mSource;
  Analysis::RainflowResult mResult;
  std::uint64_t mResidueLength = 0;  // reversals in the whole residue
  std::string mVersion;              // of the file counted, as the server keys it
};

// Called before the counting starts with the values it will read in all (an upper bound,
// to refuse a run too large before any work), then with 0 before each file (and each chunk
// of values read here): it stops the run by throwing.
using RainflowWorkCheck = std::function<void(std::uint64_t values)>;

// The counts of a channel of every file, and their combination with the repetitions.
struct RainflowRun {
  CORBA::ULong mChannel = 0;
  std::string mLabel;  // of the channel in the first file
  std::string mUnit;
  std::vector<RainflowFileCount> mFiles;
  Analysis::RainflowResult mTotal;
  // The files counted as one signal, in order (mfCountRainflowJoined; mFiles then holds
  // their one count); empty when each file was counted alone.
  std::vector<std::string> mJoined;
};

// The files as objects: with an empty `server`, paths on this machine served by the
// program's own ORB (each directory an access point); otherwise ACCESS_POINT/PATH on the
// server at `server`. REQUIRES: nothing else served the embedded objects in this process.
std::vector<IDL::File_var> mfOpenRainflowFiles(Framework::CHostOrb& orb, const std::vector<RainflowSource>& sources,
                                               const std::string& server);

// Counts channel `channel` of each file. With several files and no class range in
// `settings`, each channel's minimum and maximum are asked first (get_reduced_y_data, one
// block), so that every file is counted in the same classes. A progress bar is drawn when
// standard error is a terminal. Throws NoSuchChannel for a channel a file does not have,
// UsageError for settings the library refuses, what the objects throw and what `check` throws.
RainflowRun mfCountRainflow(const std::vector<IDL::File_var>& files, const std::vector<RainflowSource>& sources,
                            CORBA::ULong channel, const Analysis::RainflowSettings& settings,
                            const RainflowWorkCheck& check = {});

// Counts channel `channel` of the files as one signal, one file after the other in the
// order given (the consecutive files of one drive): cycles that span the files' joins are
// closed as in one long file. The values are read here, through the files' values objects,
// and counted on `threads` threads (0: one per core). The files must have the same sampling
// interval and unit, and no repetitions. Without a class range, the files' minimum and
// maximum are asked first. Throws as mfCountRainflow, and UsageError for files that differ.
RainflowRun mfCountRainflowJoined(const std::vector<IDL::File_var>& files, const std::vector<RainflowSource>& sources,
                                  CORBA::ULong channel, const Analysis::RainflowSettings& settings,
                                  unsigned threads, const RainflowWorkCheck& check = {});

// The text form: a title, the settings and totals, a table of the non-empty range classes
// (bin, range, mean, count, cumulative), the damage per slope and the residue.
void mpPrintRainflow(std::ostream& out, const RainflowRun& run);

// Every field (doc/rainflow.md): {"channel", "label", "unit", "settings", "files": [...],
// "total": {...}}; non-finite numbers as "inf", "-inf", "nan". With `perFile`, each file
// also gives its version and the parts that add: matrix, range counts and mean sums,
// crossings and cycle counts, so that a client can cache and combine files.
nlohmann::ordered_json mfRainflowJson(const RainflowRun& run, bool perFile = false);

// The from-to matrix as CSV: a header of the "to" class midpoints, then one line per
// "from" class: its midpoint and its counts.
void mpWriteMatrixCsv(std::ostream& out, const Analysis::RainflowResult& result);

}  // namespace TamblixHq::NODRA::Client
