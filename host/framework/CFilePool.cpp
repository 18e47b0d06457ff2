#include "host/framework/CFilePool.h"

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
                                                      std::string& poolKey, std::string& error) {
  poolKey = identity.mfGetPath();
  // The file's version now, learnt beneath its access point: a pooled handle of another
  // version is stale. Nothing when the file cannot be reached, which the open then says why.
  const std::optional<Utility::CFileVersionU> current =
      identity.mfIsRefused() ? std::nullopt : identity.mfGetVersion();
  if (current) {
    Handles closing;  // declared before the lock: closed after it is released
    std::lock_guard<std::mutex> lock(mMutex);
    // The most recently returned handle of the file: its buffer is the likeliest to help.
    // A handle whose file was replaced or rewritten since it was opened is closed instead.
    for (auto it = mIdle.rbegin(); it != mIdle.rend(); ++it) {
      if (it->mKey != poolKey) continue;
      std::unique_ptr<Utility::CFileU> file = std::move(it->mFile);
      mIdle.erase(std::next(it).base());
      if (file->mfGetSource().mfGetVersion() != current) {
        closing.push_back(std::move(file));
        --mOpen;
        break;
      }
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
