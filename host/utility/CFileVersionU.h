// Which version of a file: device, inode, size, modification time and change time. Two
// readings of a file that differ in any of them are different versions, so data read under
// one must not be decoded with facts learnt from the other. The change time is there because
// a rewrite in place that restores the modification time (cp -p, rsync --inplace -t) keeps
// the other four; no one can set it back. Plain value; has a text form that object
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
  long long mChangedSeconds = 0;
  long long mChangedNanoseconds = 0;

  bool operator==(const CFileVersionU& o) const {
    return mDevice == o.mDevice && mInode == o.mInode && mSize == o.mSize &&
           mModifiedSeconds == o.mModifiedSeconds && mModifiedNanoseconds == o.mModifiedNanoseconds &&
           mChangedSeconds == o.mChangedSeconds && mChangedNanoseconds == o.mChangedNanoseconds;
  }
  bool operator!=(const CFileVersionU& o) const { return !(*this == o); }

  // The version of an open descriptor, or of the file a path names now (links followed);
  // nullopt when it cannot be learnt, and for a descriptor whose file has no name left
  // (removed, or replaced by renaming another file over it).
  static std::optional<CFileVersionU> sfOfDescriptor(int fd);
  static std::optional<CFileVersionU> sfOfPath(const std::string& path);

  // "v2:DEVICE:INODE:SIZE:MSECONDS:MNANOSECONDS:CSECONDS:CNANOSECONDS" (M the modification,
  // C the change time), and back; sfFromText answers nullopt for any other text, the "v1"
  // texts without a change time included: they cannot tell a rewrite in place apart.
  std::string mfToText() const;
  static std::optional<CFileVersionU> sfFromText(const std::string& text);
};

}  // namespace TamblixHq::NODRA::Utility
