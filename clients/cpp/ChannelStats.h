// Minimum, maximum, mean and RMS of all values of channels, read in bounded chunks so that
// memory stays flat whatever the channels' length, and their table and JSON forms.
#pragma once

#include <nlohmann/json.hpp>

#include <ostream>
#include <vector>

#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/FileListing.h"

namespace TamblixHq::NODRA::Client {

// What one channel's values amount to. NaN values are left out of every figure and
// counted on their own; without any other value, minimum, maximum, mean and RMS are NaN.
struct ChannelStats {
  CORBA::ULong mCount = 0;  // values read
  CORBA::ULong mNaN = 0;    // of them NaN
  double mMin;
  double mMax;
  double mMean;
  double mRms;
  // The sums behind mean and RMS, of the values that are not NaN: statistics of several
  // channels or files combine exactly from them (counts and sums add), never from means.
  double mSum = 0;
  double mSumSquares = 0;
};

// Adds values one at a time. Sums are kept in double with compensated (Neumaier)
// summation, so that the mean and RMS of millions of values lose no more than rounding
// of the result.
class CStatsAccumulator {
public:
  void mpAdd(double value);
  ChannelStats mfResult() const;

private:
  // sum + compensation, as one Neumaier sum.
  struct Sum {
    double mSum = 0;
    double mCompensation = 0;
    void mpAdd(double value);
    double mfValue() const { return mSum + mCompensation; }
  };

  CORBA::ULong mCount = 0;
  CORBA::ULong mNaN = 0;
  double mMin = 0;
  double mMax = 0;
  Sum mSum;
  Sum mSquares;
};

// Reads every value of each channel, `chunk` values per call. A progress bar is drawn when
// standard error is a terminal. Throws what the values objects throw.
std::vector<ChannelStats> mfReadStats(const std::vector<const ChannelListing*>& channels,
                                      CORBA::ULong chunk = 65536);

// As above, over the values of each channel that `window` selects (by time, each channel
// on its own time base); throws UsageError as mfSelectValues does.
std::vector<ChannelStats> mfReadStats(const std::vector<const ChannelListing*>& channels,
                                      const ValueRequest& window, CORBA::ULong chunk = 65536);

// One row per channel: number, description, unit, values, NaN values, min, max, mean, RMS.
void mpPrintStats(std::ostream& out, const std::vector<const ChannelListing*>& channels,
                  const std::vector<ChannelStats>& stats);

// {"channels": [{"number", "label", "unit", "count", "nan", "min", "max", "mean", "rms",
// "sum", "sum_squares"}...]};
// non-finite numbers as "inf", "-inf", "nan".
nlohmann::ordered_json mfStatsJson(const std::vector<const ChannelListing*>& channels,
                                   const std::vector<ChannelStats>& stats);

}  // namespace TamblixHq::NODRA::Client
