#include "clients/cpp/ChannelWindow.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "clients/cpp/ListingOutput.h"

namespace TamblixHq::NODRA::Client {

namespace {

using Json = nlohmann::ordered_json;

// A value for a plot: null when it is not a number, so that the plot leaves a gap.
Json plotValue(double value, bool single) {
  if (std::isnan(value)) return nullptr;
  if (single && std::isfinite(value)) return mfShortFloat(static_cast<float>(value));
  return value;
}

Json plotTime(double time) { return std::isfinite(time) ? Json(time) : Json(nullptr); }

}  // namespace

WindowPlan mfPlanWindow(const ChannelListing& channel, const WindowRequest& request) {
  WindowPlan plan;
  if (channel.mCount == 0) return plan;
  // Positions from 1, in double so that a time far outside the channel cannot overflow.
  double low = 1, high = channel.mCount;
  const double spacing = channel.mSpacing;
  if (std::isfinite(spacing) && spacing > 0 && std::isfinite(channel.mFirst)) {
    // A bound at a value's own time selects that value despite rounding in the division.
    constexpr double kSlack = 1e-9;
    if (request.mFrom) low = std::max(low, std::ceil((*request.mFrom - channel.mFirst) / spacing - kSlack) + 1);
    if (request.mTo) high = std::min(high, std::floor((*request.mTo - channel.mFirst) / spacing + kSlack) + 1);
  }
  if (!(low <= high)) return plan;
  plan.mStart = static_cast<CORBA::ULong>(low);
  plan.mCount = static_cast<CORBA::ULong>(high - low) + 1;
  const CORBA::ULong width = std::max<CORBA::ULong>(1, request.mWidth);
  plan.mBlockSize = plan.mCount <= width ? 1 : plan.mCount / width + (plan.mCount % width != 0);
  return plan;
}

Json mfWindowJson(const ChannelListing& channel, const WindowPlan& plan) {
  const CORBA::ULong points = plan.mfPoints();
  Json time = Json::array();
  for (CORBA::ULong k = 0; k < points; ++k) time.push_back(plotTime(channel.mfTime(plan.mStart + k * plan.mBlockSize)));
  Json reply{{"channel", channel.mNumber},
             {"label", channel.mLabel},
             {"unit", channel.mFunction.y_quantity_annotation.unit_label.in()},
             {"count", channel.mCount},
             {"first", mfJsonNumber(channel.mFirst)},
             {"spacing", mfJsonNumber(channel.mSpacing)},
             {"window", Json{{"start", plan.mStart}, {"count", plan.mCount}, {"block_size", plan.mBlockSize}}},
             {"kind", plan.mBlockSize == 1 ? "raw" : "envelope"}};
  if (points == 0) {
    reply["time"] = time;
    reply[plan.mBlockSize == 1 ? "value" : "min"] = Json::array();
    return reply;
  }
  if (CORBA::is_nil(channel.mFunction.y_values)) {
    throw std::runtime_error("channel " + std::to_string(channel.mNumber) + " has no values to read");
  }
  if (plan.mBlockSize == 1) {
    IDL::RealValues_var values = IDL::RealValues::_narrow(channel.mFunction.y_values);
    if (CORBA::is_nil(values)) {
      throw std::runtime_error("channel " + std::to_string(channel.mNumber) + " has no values to read");
    }
    IDL::RealValueSeqUnion_var chunk = values->get_value_chunk(plan.mStart, plan.mCount);
    Json value = Json::array();
    if (chunk->_d() == IDL::DOUBLE_PRECISION) {
      const IDL::DoubleSeq& all = chunk->double_sequence();
      for (CORBA::ULong i = 0; i < all.length() && i < points; ++i) value.push_back(plotValue(all[i], false));
    } else {
      const IDL::FloatSeq& all = chunk->float_sequence();
      for (CORBA::ULong i = 0; i < all.length() && i < points; ++i) value.push_back(plotValue(all[i], true));
    }
    time.erase(time.begin() + static_cast<std::ptrdiff_t>(value.size()), time.end());
    reply["time"] = std::move(time);
    reply["value"] = std::move(value);
    return reply;
  }
  IDL::Function2D_var function = IDL::Function2D::_narrow(channel.mReference);
  if (CORBA::is_nil(function)) {
    throw std::runtime_error("channel " + std::to_string(channel.mNumber) + " cannot be reduced");
  }
  const bool single = channel.mFunction.y_values->get_precision() == IDL::SINGLE_PRECISION;
  IDL::DoubleSeq_var pairs = function->get_reduced_y_data(plan.mStart, plan.mCount, plan.mBlockSize);
  Json min = Json::array(), max = Json::array();
  for (CORBA::ULong k = 0; k < points && 2 * k + 1 < pairs->length(); ++k) {
    min.push_back(plotValue(pairs[2 * k], single));
    max.push_back(plotValue(pairs[2 * k + 1], single));
  }
  time.erase(time.begin() + static_cast<std::ptrdiff_t>(min.size()), time.end());
  reply["time"] = std::move(time);
  reply["min"] = std::move(min);
  reply["max"] = std::move(max);
  return reply;
}

}  // namespace TamblixHq::NODRA::Client
