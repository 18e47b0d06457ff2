// The --access-point NAME=DIR settings of the server and the viewer, read in one place.
#pragma once

#include <string>
#include <vector>

namespace TamblixHq::NODRA::Apps {

// A directory served under a name.
struct AccessPointSetting {
  std::string mName;
  std::string mDirectory;
};

// Reads NAME=DIR texts in their order. Throws std::invalid_argument with a message for the
// user when a text lacks a part, its DIR is not a directory, or its NAME was given before
// (which of the two was meant cannot be guessed).
std::vector<AccessPointSetting> mfParseAccessPoints(const std::vector<std::string>& texts);

// One loud line for each access point whose directory this process cannot list and enter
// now (e.g. not readable by the service's user): every file beneath it would be refused.
std::vector<std::string> mfUnreadableWarnings(const std::vector<AccessPointSetting>& points);

}  // namespace TamblixHq::NODRA::Apps
