#include "host/utility/CFileVersionU.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>

namespace TamblixHq::NODRA::Utility {

namespace {

CFileVersionU versionOf(const struct stat& status) {
  CFileVersionU version;
  version.mDevice = status.st_dev;
  version.mInode = status.st_ino;
  version.mSize = status.st_size;
  version.mModifiedSeconds = status.st_mtim.tv_sec;
  version.mModifiedNanoseconds = status.st_mtim.tv_nsec;
  return version;
}

}  // namespace

std::optional<CFileVersionU> CFileVersionU::sfOfDescriptor(int fd) {
  struct stat status;
  if (fd < 0 || ::fstat(fd, &status) != 0) return std::nullopt;
  return versionOf(status);
}

std::optional<CFileVersionU> CFileVersionU::sfOfNamedDescriptor(int fd) {
  struct stat status;
  if (fd < 0 || ::fstat(fd, &status) != 0 || status.st_nlink == 0) return std::nullopt;
  return versionOf(status);
}

std::optional<CFileVersionU> CFileVersionU::sfOfPath(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return versionOf(status);
}

std::string CFileVersionU::mfToText() const {
  char text[128];
  std::snprintf(text, sizeof text, "v1:%llu:%llu:%lld:%lld:%lld", mDevice, mInode, mSize,
                mModifiedSeconds, mModifiedNanoseconds);
  return text;
}

std::optional<CFileVersionU> CFileVersionU::sfFromText(const std::string& text) {
  CFileVersionU version;
  int consumed = 0;
  if (std::sscanf(text.c_str(), "v1:%llu:%llu:%lld:%lld:%lld%n", &version.mDevice, &version.mInode,
                  &version.mSize, &version.mModifiedSeconds, &version.mModifiedNanoseconds,
                  &consumed) != 5 ||
      static_cast<std::size_t>(consumed) != text.size()) {
    return std::nullopt;
  }
  return version;
}

}  // namespace TamblixHq::NODRA::Utility
