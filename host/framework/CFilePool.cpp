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
                                                      std::string& realPath, std::string& error) {
  if (!identity.mfResolve(realPath, error)) return nullptr;
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
    std::unique_ptr<Utility::CFdByteSourceU> source = CConfinedFileId::sfOpenResolved(realPath, error);
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
