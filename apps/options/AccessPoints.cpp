#include "apps/options/AccessPoints.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace TamblixHq::NODRA::Apps {

std::vector<AccessPointSetting> mfParseAccessPoints(const std::vector<std::string>& texts) {
  std::vector<AccessPointSetting> points;
  std::set<std::string> names;
  for (const std::string& text : texts) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
      throw std::invalid_argument("--access-point needs NAME=DIR, got \"" + text + "\"");
    }
    AccessPointSetting point{text.substr(0, equals), text.substr(equals + 1)};
    std::error_code error;
    if (!std::filesystem::is_directory(point.mDirectory, error)) {
      throw std::invalid_argument("access point " + point.mName + ": \"" + point.mDirectory + "\" is not a directory");
    }
    if (!names.insert(point.mName).second) {
      throw std::invalid_argument("access point " + point.mName + " is named twice (--access-point \"" + text +
                                  "\"); give each name once");
    }
    points.push_back(std::move(point));
  }
  return points;
}

namespace {

// Why this process cannot list and enter `directory`, or "" when it can.
std::string unreadableReason(const std::string& directory) {
  // Listing needs read, opening beneath it needs search permission: both, as this process
  // (its effective ids) has them.
  int fd;
  do {
    fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return std::strerror(errno);
  const bool searchable = ::faccessat(fd, ".", X_OK, AT_EACCESS) == 0;
  const int why = errno;
  ::close(fd);
  return searchable ? "" : std::strerror(why);
}

}  // namespace

std::vector<std::string> mfUnreadableWarnings(const std::vector<AccessPointSetting>& points) {
  std::vector<std::string> warnings;
  for (const AccessPointSetting& point : points) {
    const std::string why = unreadableReason(point.mDirectory);
    if (why.empty()) continue;
    warnings.push_back("WARNING: access point " + point.mName + ": cannot read \"" + point.mDirectory + "\" (" +
                       why + "); every file in it will be refused until this user may read it");
  }
  return warnings;
}

}  // namespace TamblixHq::NODRA::Apps
