#include "host/files/CFilePool.h"

#include <utility>
#include <vector>

#include "host/utility/CFdByteSourceU.h"

namespace TamblixHq::NODRA::Framework {

namespace {

using Handles = std::vector<std::unique_ptr<Utility::CFileU>>;

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

std::unique_ptr<Utility::CFileU> CFilePool::mfAcquire(const CConfinedFileId& identity,
                                                      const std::optional<Utility::CFileVersionU>& expected,
                                                      std::string& poolKey, std::string& error) {
  poolKey = identity.mfGetPath();
  // The version wanted: the caller's, or the one beneath the access point now. Nothing when
  // the file cannot be reached, which the open then says why.
  std::optional<Utility::CFileVersionU> wanted = expected;
  if (!wanted && !identity.mfIsRefused()) wanted = identity.mfGetVersion();
  if (wanted) {
    Handles closing;  // declared before the lock: closed after it is released
    std::lock_guard<std::mutex> lock(mMutex);
    // The most recently returned handle of the version: its buffer is the likeliest to help.
    // A handle whose file changed since it was opened, or lost its name, is stale and closed.
    for (auto it = mIdle.rbegin(); it != mIdle.rend();) {
      if (it->mKey != poolKey) {
        ++it;
        continue;
      }
      const Utility::CByteSourceU& source = it->mFile->mfGetSource();
      const std::optional<Utility::CFileVersionU> opened = source.mfGetVersion();
      const std::optional<Utility::CFileVersionU> now = source.mfGetCurrentVersion();
      // A handle of another version, still whole, is kept for the readers of that version,
      // unless the path was looked up and leads elsewhere now.
      if (!opened || now != opened || (!expected && *now != *wanted)) {
        closing.push_back(std::move(it->mFile));
        it = std::make_reverse_iterator(mIdle.erase(std::next(it).base()));
        --mOpen;
        continue;
      }
      if (*now != *wanted) {
        ++it;
        continue;
      }
      std::unique_ptr<Utility::CFileU> file = std::move(it->mFile);
      mIdle.erase(std::next(it).base());
      file->mpRewind();
      return file;
    }
  }
  {
    Handles closing;
    std::lock_guard<std::mutex> lock(mMutex);
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
    std::unique_ptr<Utility::CFdByteSourceU> source = identity.mfOpen(error);
    if (source) file = std::make_unique<Utility::CFileU>(std::move(source));
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

void CFilePool::mpRelease(const std::string& poolKey, std::unique_ptr<Utility::CFileU> file) noexcept {
  std::lock_guard<std::mutex> lock(mMutex);
  if (mOpen <= mMaxOpen) {
    try {
      mIdle.push_back(CIdleHandle{poolKey, std::move(file)});
      return;
    } catch (...) {
      // Could not pool it: close it below.
    }
  }
  --mOpen;
  // A handle not pooled is closed when the parameter dies, after the lock is released.
}

}  // namespace TamblixHq::NODRA::Framework
