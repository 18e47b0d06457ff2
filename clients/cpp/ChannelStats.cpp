#include "clients/cpp/ChannelStats.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "clients/cpp/ChunkReader.h"
#include "clients/cpp/ListingOutput.h"
#include "clients/cpp/ProgressBar.h"

namespace TamblixHq::NODRA::Client {

namespace {

// A minimum or maximum: the shortest float text when the value is a float, as it is for
// single-precision channels.
std::string extremeText(double value) {
  const auto single = static_cast<float>(value);
  return static_cast<double>(single) == value ? mfNumberText(single) : mfNumberText(value);
}

// A minimum or maximum for JSON: as the float it is, when it is one.
nlohmann::ordered_json extremeJson(double value) {
  const auto single = static_cast<float>(value);
  if (std::isfinite(value) && static_cast<double>(single) == value) return mfShortFloat(single);
  return mfJsonNumber(value);
}

}  // namespace

void CStatsAccumulator::Sum::mpAdd(double value) {
  // Neumaier: the low-order bits lost by each addition are collected on the side.
  const double sum = mSum + value;
  if (std::isfinite(sum)) {
    mCompensation += std::fabs(mSum) >= std::fabs(value) ? (mSum - sum) + value : (value - sum) + mSum;
  }
  mSum = sum;
}

void CStatsAccumulator::mpAdd(double value) {
  if (std::isnan(value)) {
    ++mNaN;
    ++mCount;
    return;
  }
  if (mCount == mNaN) {
    mMin = mMax = value;
  } else {
    mMin = std::min(mMin, value);
    mMax = std::max(mMax, value);
  }
  ++mCount;
  mSum.mpAdd(value);
  mSquares.mpAdd(value * value);
}

ChannelStats CStatsAccumulator::mfResult() const {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  ChannelStats stats{mCount, mNaN, nan, nan, nan, nan};
  const CORBA::ULong used = mCount - mNaN;
  if (used == 0) return stats;
  stats.mMin = mMin;
  stats.mMax = mMax;
  // An infinite sum has no compensation to add (inf - inf would be NaN).
  const double sum = std::isfinite(mSum.mSum) ? mSum.mfValue() : mSum.mSum;
  const double squares = std::isfinite(mSquares.mSum) ? mSquares.mfValue() : mSquares.mSum;
  stats.mMean = sum / used;
  stats.mRms = std::sqrt(squares / used);
  stats.mSum = sum;
  stats.mSumSquares = squares;
  return stats;
}

std::vector<ChannelStats> mfReadStats(const std::vector<const ChannelListing*>& channels,
                                      CORBA::ULong chunk) {
  return mfReadStats(channels, ValueRequest{}, chunk);
}

std::vector<ChannelStats> mfReadStats(const std::vector<const ChannelListing*>& channels,
                                      const ValueRequest& window, CORBA::ULong chunk) {
  chunk = std::max<CORBA::ULong>(1, chunk);
  std::vector<ValueSelection> selections;
  std::uint64_t total = 0;
  for (const ChannelListing* channel : channels) {
    selections.push_back(channel->mCount > 0 ? mfSelectValues(*channel, window) : ValueSelection{1, 0});
    total += selections.back().mCount;
  }
  ProgressBar progress(total);
  std::vector<ChannelStats> all;
  for (std::size_t c = 0; c < channels.size(); ++c) {
    const ChannelListing* channel = channels[c];
    CStatsAccumulator stats;
    IDL::RealValues_var values = IDL::RealValues::_narrow(channel->mFunction.y_values);
    if (CORBA::is_nil(values) && channel->mCount > 0) {
      throw std::runtime_error("channel " + std::to_string(channel->mNumber) + " has no values to read");
    }
    if (selections[c].mCount > 0) {
      ChunkReader reader({values.in()}, selections[c].mStart, selections[c].mCount, chunk);
      while (const std::optional<ChunkRow> row = reader.mfNext()) {
        for (CORBA::ULong i = 0; i < row->mCount; ++i) stats.mpAdd(row->mfValue(0, i));
        progress.mpAdvance(row->mCount);
      }
    }
    all.push_back(stats.mfResult());
  }
  return all;
}

void mpPrintStats(std::ostream& out, const std::vector<const ChannelListing*>& channels,
                  const std::vector<ChannelStats>& stats) {
  CTextTable table({"#", "description", "unit", "values", "NaN", "min", "max", "mean", "RMS"},
                   {true, false, false, true, true, true, true, true, true});
  for (std::size_t i = 0; i < channels.size() && i < stats.size(); ++i) {
    const ChannelListing& channel = *channels[i];
    const ChannelStats& s = stats[i];
    table.mpAdd({std::to_string(channel.mNumber), channel.mfAnnotationText("description"),
                 channel.mFunction.y_quantity_annotation.unit_label.in(), std::to_string(s.mCount),
                 std::to_string(s.mNaN), extremeText(s.mMin), extremeText(s.mMax), mfFigureText(s.mMean), mfFigureText(s.mRms)});
  }
  table.mpPrint(out);
}

nlohmann::ordered_json mfStatsJson(const std::vector<const ChannelListing*>& channels,
                                   const std::vector<ChannelStats>& stats) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (std::size_t i = 0; i < channels.size() && i < stats.size(); ++i) {
    const ChannelListing& channel = *channels[i];
    const ChannelStats& s = stats[i];
    rows.push_back({{"number", channel.mNumber},
                    {"label", channel.mLabel},
                    {"unit", channel.mFunction.y_quantity_annotation.unit_label.in()},
                    {"count", s.mCount},
                    {"nan", s.mNaN},
                    {"min", extremeJson(s.mMin)},
                    {"max", extremeJson(s.mMax)},
                    {"mean", mfJsonNumber(s.mMean)},
                    {"rms", mfJsonNumber(s.mRms)},
                    {"sum", mfJsonNumber(s.mSum)},
                    {"sum_squares", mfJsonNumber(s.mSumSquares)}});
  }
  return {{"channels", rows}};
}

}  // namespace TamblixHq::NODRA::Client
