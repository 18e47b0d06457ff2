// Which version of a file: device, inode, size and modification time. Two readings of a
// file that differ in any of them are different versions, so data read under one must not
// be decoded with facts learnt from the other. Plain value; has a text form that object
// identifiers carry.
#pragma once

#include <optional>
#include <string>

namespace TamblixHq::NODRA::Utility {

struct CFileVersionU {
  unsigned long long mDevice = 0;
  unsigned long long mInode = 0;
  long long mSize = -1;
  long long mModifiedSeconds = 0;
  long long mModifiedNanoseconds = 0;

  bool operator==(const CFileVersionU& o) const {
    return mDevice == o.mDevice && mInode == o.mInode && mSize == o.mSize &&
           mModifiedSeconds == o.mModifiedSeconds && mModifiedNanoseconds == o.mModifiedNanoseconds;
  }
  bool operator!=(const CFileVersionU& o) const { return !(*this == o); }

  // The version of an open descriptor, or of the file a path names now (links followed);
  // nullopt when it cannot be learnt, and for a descriptor whose file has no name left
  // (removed, or replaced by renaming another file over it).
  static std::optional<CFileVersionU> sfOfDescriptor(int fd);
  static std::optional<CFileVersionU> sfOfPath(const std::string& path);

  // "v1:DEVICE:INODE:SIZE:SECONDS:NANOSECONDS", and back; sfFromText answers nullopt for any
  // other text.
  std::string mfToText() const;
  static std::optional<CFileVersionU> sfFromText(const std::string& text);
};

}  // namespace TamblixHq::NODRA::Utility
