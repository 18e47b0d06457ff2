// Byte source over an open file descriptor, read with pread so that concurrent reads at
// different offsets need no shared position. Owns the descriptor and closes it when
// destroyed; safe for concurrent mfReadAt.
#pragma once

#include <memory>
#include <string>

#include "host/utility/CByteSourceU.h"

namespace TamblixHq::NODRA::Utility {

class CFdByteSourceU : public CByteSourceU {
public:
  // Takes ownership of fd (a negative fd makes every read fail).
  explicit CFdByteSourceU(int fd);
  ~CFdByteSourceU() override;
  CFdByteSourceU(const CFdByteSourceU&) = delete;
  CFdByteSourceU& operator=(const CFdByteSourceU&) = delete;

  // Opens path read-only; null with a one-line reason in *error (when error is not null)
  // when it cannot be opened.
  static std::unique_ptr<CFdByteSourceU> sfOpen(const std::string& path, std::string* error = nullptr);

  std::int64_t mfReadAt(std::int64_t offset, void* buffer, std::size_t n) const override;
  std::int64_t mfGetSize() const override;  // from fstat at each call
  int mfGetFd() const;
  std::optional<CFileVersionU> mfGetVersion() const override { return mVersion; }
  // One fstat of the descriptor: the file it reads as it is now; nullopt once the file has
  // no name left (removed, or another file renamed over it).
  std::optional<CFileVersionU> mfGetCurrentVersion() const override;

private:
  const int mFd;
  std::optional<CFileVersionU> mVersion;  // at construction
};

}  // namespace TamblixHq::NODRA::Utility
