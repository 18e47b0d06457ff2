// Writes channels' values as CSV, one column per channel against time, reading them in
// bounded chunks so that memory stays flat whatever the channel's length.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "apps/client/FileListing.h"

namespace TamblixHq::NODRA::Client {

struct DumpRange {
  CORBA::ULong mStart = 1;                  // first value, from 1
  std::optional<CORBA::ULong> mCount;       // none: to the end; clipped to the end
  CORBA::ULong mChunk = 65536;  // values per channel and call
};

// "time [s],DESCRIPTION [UNIT],..." with each field quoted as CSV needs it.
std::string mfCsvHeader(const std::vector<const ChannelListing*>& channels);

// Writes the header and a row per value: the time (shortest double text) and each channel's
// value (shortest float text). Throws UsageError when the channels' time bases differ or the
// start lies beyond the end, std::runtime_error when `out` fails, and what the values
// objects throw. A progress bar is drawn when standard error is a terminal.
void mpDumpCsv(std::FILE* out, const std::vector<const ChannelListing*>& channels,
               const DumpRange& range);

}  // namespace TamblixHq::NODRA::Client
