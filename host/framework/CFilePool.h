// Process-wide pool of open read-only file handles, keyed by real path, with a bound on
// the handles kept open; it also decides which paths may be opened at all (confinement to
// the access points' directories). Safe for concurrent use.
#pragma once

#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "host/utility/CFileU.h"

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

  // Confinement of a '/' path chosen by clients: true when it names something inside the
  // directory of a configured access point, with realPath set to its real path (symbolic
  // links resolved). Refused, with a one-line reason in error: a NUL byte, no access-point
  // directory as a prefix, a ".." component after that prefix, a missing file, or a real
  // path outside the access point's real directory (a link leading out). Whether the path
  // names a regular file is left to the caller.
  static bool sfResolveConfined(const std::string& path, std::string& realPath, std::string& error);

private:
  friend class CFilePtrConnGuard;

  struct CIdleHandle {
    std::string mRealPath;
    std::unique_ptr<Utility::CFileU> mFile;
  };

  CFilePool() = default;

  // An open handle of a confined regular file positioned at byte 0, or null with error set.
  // realPath receives the pool key to hand back with mpRelease.
  std::unique_ptr<Utility::CFileU> mfAcquire(const std::string& path, std::string& realPath, std::string& error);
  void mpRelease(const std::string& realPath, std::unique_ptr<Utility::CFileU> file) noexcept;
  static std::unique_ptr<Utility::CFileU> sfOpen(const std::string& realPath, std::string& error);

  mutable std::mutex mMutex;
  std::list<CIdleHandle> mIdle;  // oldest first; guarded by mMutex
  std::size_t mOpen = 0;         // idle + busy; guarded by mMutex
  std::size_t mMaxOpen = kDefaultMaxOpenFiles;  // guarded by mMutex
};

}  // namespace TamblixHq::NODRA::Framework
