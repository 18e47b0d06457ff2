#include "host/utility/CFileVersionU.h"

#include <charconv>
#include <string_view>

#include <sys/stat.h>

#include <cinttypes>

namespace TamblixHq::NODRA::Utility {

namespace {

CFileVersionU versionOf(const struct stat& status) {
  CFileVersionU version;
  version.mDevice = status.st_dev;
  version.mInode = status.st_ino;
  version.mSize = status.st_size;
  version.mModifiedSeconds = status.st_mtim.tv_sec;
  version.mModifiedNanoseconds = status.st_mtim.tv_nsec;
  version.mChangedSeconds = status.st_ctim.tv_sec;
  version.mChangedNanoseconds = status.st_ctim.tv_nsec;
  return version;
}

}  // namespace

std::optional<CFileVersionU> CFileVersionU::sfOfDescriptor(int fd) {
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
  // Every identifier the server checks is written here again: with to_chars, not a printf.
  std::string text = "v2";
  text.reserve(96);
  const auto field = [&](auto number) {
    char digits[24];  // a 64-bit number and its sign
    text += ':';
    text.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
  };
  field(mDevice);
  field(mInode);
  field(mSize);
  field(mModifiedSeconds);
  field(mModifiedNanoseconds);
  field(mChangedSeconds);
  field(mChangedNanoseconds);
  return text;
}

std::optional<CFileVersionU> CFileVersionU::sfFromText(const std::string& text) {
  // Every identifier the server makes carries one: read with from_chars, not a scanf.
  constexpr std::string_view kPrefix = "v2:";
  if (text.compare(0, kPrefix.size(), kPrefix) != 0) return std::nullopt;
  const char* at = text.data() + kPrefix.size();
  const char* const end = text.data() + text.size();
  CFileVersionU version;
  bool first = true;
  const auto field = [&](auto& number) {
    if (!first) {
      if (at == end || *at != ':') return false;
      ++at;
    }
    first = false;
    const std::from_chars_result read = std::from_chars(at, end, number);
    at = read.ptr;
    return read.ec == std::errc();
  };
  if (!field(version.mDevice) || !field(version.mInode) || !field(version.mSize) ||
      !field(version.mModifiedSeconds) || !field(version.mModifiedNanoseconds) ||
      !field(version.mChangedSeconds) || !field(version.mChangedNanoseconds) || at != end) {
    return std::nullopt;
  }
  return version;
}

}  // namespace TamblixHq::NODRA::Utility
