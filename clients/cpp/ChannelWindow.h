// A time window of a channel as a plot asks for it: the values themselves when there are
// no more than the plot has points, otherwise the minimum and maximum of each block of
// values, reduced where the file is. A reply never holds more than `width` points,
// whatever the channel's length.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>

#include "clients/cpp/FileListing.h"

namespace TamblixHq::NODRA::Client {

// Widths a window may be asked for: the points of a plot, one per pixel column at most.
constexpr CORBA::ULong kMaxWindowWidth = 4096;

struct WindowRequest {
  std::optional<double> mFrom;  // seconds; none: from the first value
  std::optional<double> mTo;    // seconds; none: to the last value
  CORBA::ULong mWidth = 1000;   // points at most
};

// Which values a window reads: mCount values from mStart (from 1), mBlockSize per point.
struct WindowPlan {
  CORBA::ULong mStart = 1;
  CORBA::ULong mCount = 0;  // 0: the window misses the channel
  CORBA::ULong mBlockSize = 1;

  CORBA::ULong mfPoints() const { return mCount / mBlockSize + (mCount % mBlockSize != 0); }
};

// The values whose times lie in [from, to], clipped to the channel, in blocks so that
// there are at most `width` of them. A channel without a usable time base (spacing 0 or
// not finite) is read whole. REQUIRES: 1 <= width; from <= to when both are given.
WindowPlan mfPlanWindow(const ChannelListing& channel, const WindowRequest& request);

// The window as one JSON object (see the README's API section): the channel's time base,
// the plan, and per point its time with the value ("raw") or the block's minimum and
// maximum ("envelope"); NaN and blocks of nothing else are null. Reads through the
// channel's objects and throws what they throw.
nlohmann::ordered_json mfWindowJson(const ChannelListing& channel, const WindowPlan& plan);

}  // namespace TamblixHq::NODRA::Client
