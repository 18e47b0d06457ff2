#include "rpc3/format/CRPC3HeaderRegistry.h"

#include <algorithm>


namespace TamblixHq::NODRA::Drivers::RPC3 {

CRPC3HeaderRegistry* CRPC3HeaderRegistry::sfGetHeaderRegistry() {
  // Initialisation of a function-local static is thread-safe; the object is never deleted so
  // that servants destroyed during process exit can still release their headers.
  static CRPC3HeaderRegistry* const registry = new CRPC3HeaderRegistry();
  return registry;
}

std::vector<CRPC3HeaderRegistry::Entry>::iterator CRPC3HeaderRegistry::mfFind(
    const Utility::CStringU& key) {
  return std::find_if(mEntries.begin(), mEntries.end(),
                      [&key](const Entry& entry) { return entry.mKey.mfCompare(key) == 0; });
}

std::vector<CRPC3HeaderRegistry::Entry>::const_iterator CRPC3HeaderRegistry::mfFind(
    const Utility::CStringU& key) const {
  return std::find_if(mEntries.begin(), mEntries.end(),
                      [&key](const Entry& entry) { return entry.mKey.mfCompare(key) == 0; });
}

CRPC3Header* CRPC3HeaderRegistry::mfAcquireHeader(const Utility::CStringU& accessPoint,
                                                  const Utility::CStringU& subDirectory,
                                                  const Utility::CStringU& fileName) {
  return mfAcquireHeader(Framework::CConfinedFileId(accessPoint, subDirectory, fileName));
}

CRPC3Header* CRPC3HeaderRegistry::mfAcquireHeader(const Framework::CConfinedFileId& file) {
  const Utility::CStringU& key = file.mfGetKey();
  const std::lock_guard<std::mutex> lock(mMutex);
  const auto found = mfFind(key);
  if (found != mEntries.end()) {
    ++found->mCount;
    return found->mHeader.get();
  }
  // A throwing constructor leaves the list untouched; its exception reaches the caller as is.
  std::unique_ptr<CRPC3Header> header(new CRPC3Header(file));
  CRPC3Header* const shared = header.get();
  mEntries.push_back(Entry{key, std::move(header), 1});
  return shared;
}

void CRPC3HeaderRegistry::mpReleaseHeader(const Utility::CStringU& accessPoint,
                                          const Utility::CStringU& subDirectory,
                                          const Utility::CStringU& fileName) {
  mpReleaseHeader(Framework::CConfinedFileId(accessPoint, subDirectory, fileName));
}

void CRPC3HeaderRegistry::mpReleaseHeader(const Framework::CConfinedFileId& file) {
  const Utility::CStringU& key = file.mfGetKey();
  std::unique_ptr<CRPC3Header> released;
  {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto found = mfFind(key);
    if (found == mEntries.end()) {
      return;
    }
    if (found->mCount >= 2) {
      --found->mCount;
      return;
    }
    released = std::move(found->mHeader);
    mEntries.erase(found);
  }
  // The header is freed outside the lock: no other holder can reach it any more.
}

std::size_t CRPC3HeaderRegistry::mfGetNumberOfEntries() const {
  const std::lock_guard<std::mutex> lock(mMutex);
  return mEntries.size();
}

int CRPC3HeaderRegistry::mfGetCount(const Utility::CStringU& key) const {
  const std::lock_guard<std::mutex> lock(mMutex);
  const auto found = mfFind(key);
  return found == mEntries.end() ? 0 : found->mCount;
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
