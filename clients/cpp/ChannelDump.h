// Writes a run of channels' values out, as CSV (one column per channel against time), as
// little-endian float32 or as NPY, reading them in bounded chunks so that memory stays
// flat whatever the channels' length and number.
#pragma once

#include <cerrno>
#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "clients/cpp/FileListing.h"

namespace TamblixHq::NODRA::Client {

// Which values are asked for: by number (`mStart` from 1, `mCount`), or by time (values
// whose times lie in [`mFrom`, `mTo`] seconds); what is not given runs to the channel's end.
struct ValueRequest {
  std::optional<CORBA::ULong> mStart;
  std::optional<CORBA::ULong> mCount;
  std::optional<double> mFrom;
  std::optional<double> mTo;
};

// The values a request selects: mCount values from value mStart (from 1).
struct ValueSelection {
  CORBA::ULong mStart = 1;
  CORBA::ULong mCount = 0;
};

// The values of `channel` that `request` selects, the count clipped to the end. Throws
// UsageError when numbers and times are mixed, when from lies after to, or when the start
// lies beyond the last value (`startName` names the start in that message).
ValueSelection mfSelectValues(const ChannelListing& channel, const ValueRequest& request,
                              const char* startName = "--start");

// Throws UsageError unless every channel has the first one's count, first time and
// spacing: values written side by side must share their times.
void mpRequireCommonTimeBase(const std::vector<const ChannelListing*>& channels);

// Where written bytes go; throws to stop the writing.
using ByteSink = std::function<void(const char* bytes, std::size_t size)>;

// Values per channel and call to the values objects (fewer for many channels side by side:
// ChunkReader::sfRowValues).
constexpr CORBA::ULong kDumpChunk = 65536;

// How CSV is written: the character between cells, and whether numbers take a decimal
// comma (for spreadsheets of locales that write 3,25; the delimiter is then ';' by default).
struct CsvStyle {
  char mDelimiter = ',';
  bool mDecimalComma = false;
};

// The style of `delimiter` (one character, or "tab"; default "," or, with `decimalComma`,
// ";"). Throws UsageError for a delimiter that CSV cannot carry: a digit, '.', '"', '-',
// a line end, or ',' beside a decimal comma.
CsvStyle mfCsvStyle(const std::optional<std::string>& delimiter, bool decimalComma);

// A text as one CSV cell: quoted as CSV needs it, and one that starts as a spreadsheet
// formula does (=, @, +, -, tab, CR) with a leading apostrophe, which spreadsheets show as
// text rather than run.
// A cell holding `delimiter` is quoted too.
std::string mfCsvCell(const std::string& text, char delimiter = ',');

// "time [s],DESCRIPTION [UNIT],..." with each field quoted as CSV needs it.
std::string mfCsvHeader(const std::vector<const ChannelListing*>& channels, const CsvStyle& style = {});

// Writes the CSV header and a row per selected value: the time (shortest double text) and
// each channel's value (shortest float text), in `style`. REQUIRES: the channels share their time base
// (mpRequireCommonTimeBase). Throws what the values objects and `sink` throw. A progress
// bar is drawn on standard error when `progress` and it is a terminal.
void mpWriteCsv(const ByteSink& sink, const std::vector<const ChannelListing*>& channels,
                const ValueSelection& selection, bool progress, const CsvStyle& style = {},
                CORBA::ULong chunk = kDumpChunk);

// Writes the selected values of each channel as little-endian float32, one channel after
// another, `chunk` values of a channel at a time.
void mpWriteFloat32(const ByteSink& sink, const std::vector<const ChannelListing*>& channels,
                    const ValueSelection& selection, CORBA::ULong chunk = kDumpChunk);

// The header of an NPY file (format 1.0) of little-endian float32: `rows` values, one
// dimension for one column; `rows` x `columns` for several, stored column after column
// (Fortran order), so that the data are those mpWriteFloat32 writes.
std::string mfNpyHeader(CORBA::ULong rows, std::size_t columns);

// What `nodra-browse dump` writes: the channels' common time base checked, their values
// selected as `request` asks and written as CSV in `style` to `out`. Throws UsageError
// (also for a time window that selects no value, with the channels' extent),
// OutputError when `out` fails, and what the values objects throw.
void mpDumpCsv(std::FILE* out, const std::vector<const ChannelListing*>& channels, const ValueRequest& request,
               const CsvStyle& style = {}, CORBA::ULong chunk = kDumpChunk);

// Writing a program's output failed; mfReaderLeft when its reader closed the pipe (EPIPE),
// which a program ends quietly on as other tools do.
class OutputError : public std::runtime_error {
public:
  explicit OutputError(int error);
  bool mfReaderLeft() const { return mError == EPIPE; }

private:
  int mError;
};

// Throws OutputError when `out` has failed (errno tells why).
void mpCheckOutput(const std::ostream& out);

}  // namespace TamblixHq::NODRA::Client
