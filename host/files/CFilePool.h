// Process-wide pool of open read-only file handles, keyed by a file's path beneath its
// access point, with a bound on the handles kept open; a pooled handle is handed out only
// for the version of the file it was opened on, and one whose file changed under it is
// closed. Which files may be opened at all is CConfinedFileId's decision.
// Safe for concurrent use.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "host/files/CConfinedFileId.h"
#include "host/utility/CFileU.h"
#include "host/utility/CFileVersionU.h"

namespace TamblixHq::NODRA::Framework {

class CFilePtrConnGuard;

class CFilePool {
public:
  static constexpr std::size_t kDefaultMaxOpenFiles = 64;

  // Created on first use and never destroyed, so guards may outlive static objects.
  static CFilePool& sfGetFilePool();

  CFilePool(const CFilePool&) = delete;
  CFilePool& operator=(const CFilePool&) = delete;

  // Bound on idle + busy handles. Reaching it closes idle handles, oldest first. A request
  // when every handle is busy still opens one (busy handles are bounded by the callers'
  // threads) and that handle is closed on return instead of pooled.
  void mpSetMaxOpenFiles(std::size_t n);
  std::size_t mfGetMaxOpenFiles() const;
  std::size_t mfGetOpenFiles() const;  // idle + busy
  std::size_t mfGetIdleFiles() const;
  void mpCloseIdle();  // e.g. after a data file was replaced

private:
  friend class CFilePtrConnGuard;

  struct CIdleHandle {
    std::string mKey;
    std::unique_ptr<Utility::CFileU> mFile;
  };

  CFilePool() = default;

  // An open handle of the file positioned at byte 0, or null with the reason in error.
  // poolKey receives the key to hand back with mpRelease. With `expected`, a pooled handle
  // whose descriptor reads that version now is reused at the cost of one fstat; without
  // it, the version the path names now (looked up beneath the access point) is wanted.
  // Otherwise the file is opened anew, whatever version it is.
  std::unique_ptr<Utility::CFileU> mfAcquire(const CConfinedFileId& identity,
                                             const std::optional<Utility::CFileVersionU>& expected,
                                             std::string& poolKey, std::string& error);
  void mpRelease(const std::string& poolKey, std::unique_ptr<Utility::CFileU> file) noexcept;

  mutable std::mutex mMutex;
  std::list<CIdleHandle> mIdle;  // oldest first; guarded by mMutex
  std::size_t mOpen = 0;         // idle + busy; guarded by mMutex
  std::size_t mMaxOpen = kDefaultMaxOpenFiles;  // guarded by mMutex
};

}  // namespace TamblixHq::NODRA::Framework
