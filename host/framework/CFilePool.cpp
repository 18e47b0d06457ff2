#include "host/framework/CFilePool.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/framework/CBinaryFilePtrConnID.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CFdByteSourceU.h"

namespace TamblixHq::NODRA::Framework {

namespace {

using Handles = std::vector<std::unique_ptr<Utility::CFileU>>;

bool fRealPath(const std::string& path, std::string& real) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return false;
  real.assign(resolved);
  std::free(resolved);
  return true;
}

// True when a '/'-separated text has a ".." component.
bool fHasDotDot(const std::string& text) {
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = text.find('/', begin);
    const std::size_t length = (end == std::string::npos ? text.size() : end) - begin;
    if (length == 2 && text.compare(begin, 2, "..") == 0) return true;
    if (end == std::string::npos) return false;
    begin = end + 1;
  }
}

// True when real lies strictly below the directory realDirectory.
bool fIsBelow(const std::string& real, const std::string& realDirectory) {
  if (realDirectory == "/") return real.size() > 1 && real[0] == '/';
  return real.size() > realDirectory.size() + 1 && real.compare(0, realDirectory.size(), realDirectory) == 0 &&
         real[realDirectory.size()] == '/';
}

}  // namespace

CFilePool& CFilePool::sfGetFilePool() {
  static CFilePool* const sPool = new CFilePool;  // never destroyed, see the header
  return *sPool;
}

void CFilePool::mpSetMaxOpenFiles(std::size_t n) {
  Handles closing;  // closed after the lock is released
  std::lock_guard<std::mutex> lock(mMutex);
  mMaxOpen = n;
  while (mOpen > mMaxOpen && !mIdle.empty()) {
    closing.push_back(std::move(mIdle.front().mFile));
    mIdle.pop_front();
    --mOpen;
  }
}

std::size_t CFilePool::mfGetMaxOpenFiles() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mMaxOpen;
}

std::size_t CFilePool::mfGetOpenFiles() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mOpen;
}

std::size_t CFilePool::mfGetIdleFiles() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mIdle.size();
}

void CFilePool::mpCloseIdle() {
  std::list<CIdleHandle> closing;
  std::lock_guard<std::mutex> lock(mMutex);
  mOpen -= mIdle.size();
  closing.swap(mIdle);
}

bool CFilePool::sfResolveConfined(const std::string& path, std::string& realPath, std::string& error) {
  if (path.find('\0') != std::string::npos) {
    error = "path contains a NUL byte";
    return false;
  }
  error = "outside every access point";
  for (const auto& accessPoint : Utility::CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPoints()) {
    const std::string directory = CBinaryFilePtrConnID::sfToSlashes(accessPoint.second.mfStd());
    // An access point without a directory would be a prefix of every path.
    if (directory.empty() || path.compare(0, directory.size(), directory) != 0) continue;
    const std::string rest = path.substr(directory.size());
    if (directory.back() != '/' && !rest.empty() && rest.front() != '/') continue;  // "/ap" vs "/apx/f"
    if (fHasDotDot(rest)) {
      error = "path contains a '..' component";
      continue;
    }
    std::string realDirectory;
    if (!fRealPath(directory, realDirectory)) {
      error = "access point directory unavailable";
      continue;
    }
    std::string real;
    if (!fRealPath(path, real)) {
      error = (errno == ENOENT || errno == ENOTDIR) ? "no such file" : std::strerror(errno);
      continue;
    }
    if (real == realDirectory) {
      error = "not a regular file";
      continue;
    }
    if (!fIsBelow(real, realDirectory)) {
      error = "path leads outside its access point";
      continue;
    }
    realPath = std::move(real);
    error.clear();
    return true;
  }
  return false;
}

std::unique_ptr<Utility::CFileU> CFilePool::sfOpen(const std::string& realPath, std::string& error) {
  // O_NOFOLLOW: the checked real path has no link left, so a link found now was swapped in
  // after the check. O_NONBLOCK: a FIFO swapped in must not hang the open.
  int fd;
  do {
    fd = ::open(realPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return nullptr;
  }
  auto source = std::make_unique<Utility::CFdByteSourceU>(fd);
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    error = "not a regular file";
    return nullptr;
  }
  // O_NOFOLLOW guards only the last component: a directory swapped for a link between the
  // check and the open would lead elsewhere. The descriptor's own path tells.
  char opened[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), opened, sizeof opened);
  if (length >= 0 && realPath.compare(0, std::string::npos, opened, static_cast<std::size_t>(length)) != 0) {
    error = "path leads outside its access point";
    return nullptr;
  }
  return std::make_unique<Utility::CFileU>(std::move(source));
}

std::unique_ptr<Utility::CFileU> CFilePool::mfAcquire(const std::string& path, std::string& realPath, std::string& error) {
  if (!sfResolveConfined(path, realPath, error)) return nullptr;
  {
    Handles closing;  // declared before the lock: closed after it is released
    std::lock_guard<std::mutex> lock(mMutex);
    // The most recently returned handle of the file: its buffer is the likeliest to help.
    // A handle whose file was replaced or rewritten since it was opened is closed instead.
    for (auto it = mIdle.rbegin(); it != mIdle.rend(); ++it) {
      if (it->mRealPath != realPath) continue;
      std::unique_ptr<Utility::CFileU> file = std::move(it->mFile);
      mIdle.erase(std::next(it).base());
      const auto* source = dynamic_cast<const Utility::CFdByteSourceU*>(&file->mfGetSource());
      if (source && !source->mfIsCurrent(realPath)) {
        closing.push_back(std::move(file));
        --mOpen;
        break;
      }
      file->mpRewind();
      return file;
    }
    // Reserve the new handle's place, making room by closing idle handles, oldest first.
    while (mOpen >= mMaxOpen && !mIdle.empty()) {
      closing.push_back(std::move(mIdle.front().mFile));
      mIdle.pop_front();
      --mOpen;
    }
    ++mOpen;
  }
  std::unique_ptr<Utility::CFileU> file;
  try {
    file = sfOpen(realPath, error);
  } catch (...) {
    std::lock_guard<std::mutex> lock(mMutex);
    --mOpen;
    throw;
  }
  if (!file) {
    std::lock_guard<std::mutex> lock(mMutex);
    --mOpen;
  }
  return file;
}

void CFilePool::mpRelease(const std::string& realPath, std::unique_ptr<Utility::CFileU> file) noexcept {
  std::lock_guard<std::mutex> lock(mMutex);
  if (mOpen <= mMaxOpen) {
    try {
      mIdle.push_back(CIdleHandle{realPath, std::move(file)});
      return;
    } catch (...) {
      // Could not pool it: close it below.
    }
  }
  --mOpen;
  // A handle not pooled is closed when the parameter dies, after the lock is released.
}

}  // namespace TamblixHq::NODRA::Framework
