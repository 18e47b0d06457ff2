#include "rpc3/format/CRPC3HeaderRegistry.h"

#include <algorithm>
#include <string>

#include "host/framework/CResolverImpl.h"
#include "host/utility/RaiseLogged.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

CRPC3HeaderRegistry* CRPC3HeaderRegistry::sfGetHeaderRegistry() {
  // Initialisation of a function-local static is thread-safe; the object is never deleted so
  // that servants destroyed during process exit can still release their headers.
  static CRPC3HeaderRegistry* const registry = new CRPC3HeaderRegistry();
  return registry;
}

CRPC3Header* CRPC3HeaderRegistry::mfAcquireHeader(const Utility::CStringU& accessPoint,
                                                  const Utility::CStringU& subDirectory,
                                                  const Utility::CStringU& fileName) {
  return mfAcquireHeader(Framework::CConfinedFileId(accessPoint, subDirectory, fileName));
}

CRPC3Header* CRPC3HeaderRegistry::mfAcquireHeader(
    const Framework::CConfinedFileId& file, const std::optional<Utility::CFileVersionU>& version) {
  CRPC3Header* const header = mfAcquireHeaderLocked(file, version);
  mpRelieve();
  return header;
}

void CRPC3HeaderRegistry::mpRelieve() {
  // A few servants at a time: each eviction frees the headers that only it held.
  constexpr std::size_t kBatch = 16;
  while (mBytes.load() > mMaxBytes.load()) {
    if (Framework::CResolverImpl::sfGetResolverImpl()->mfEvictOldest(kBatch) == 0) break;
  }
}

CRPC3Header* CRPC3HeaderRegistry::mfAcquireHeaderLocked(
    const Framework::CConfinedFileId& file, const std::optional<Utility::CFileVersionU>& version) {
  const Utility::CStringU& key = file.mfGetKey();
  // Without a version asked for, the file as it is now; when that cannot be learnt, a fresh
  // header is read, which reports why the file cannot be opened.
  const std::optional<Utility::CFileVersionU> wanted = version ? version : file.mfGetVersion();
  const std::lock_guard<std::mutex> lock(mMutex);
  if (wanted) {
    const auto found = std::find_if(mEntries.begin(), mEntries.end(), [&](const Entry& entry) {
      return entry.mKey.mfCompare(key) == 0 && entry.mHeader->mfGetVersion() == wanted;
    });
    if (found != mEntries.end()) {
      ++found->mCount;
      return found->mHeader.get();
    }
  }
  // A throwing constructor leaves the list untouched; its exception reaches the caller as is.
  std::unique_ptr<CRPC3Header> header(new CRPC3Header(file));
  if (version && header->mfGetVersion() != version) {
    Utility::raiseLogged<::TAMBLIX::NODRA::Framework::DBAccessException>(
        "Unable to read <" + file.mfGetShownKey().mfStd() + ">: " + kChangedWhileOpen +
            "; open the file again to read it as it is now",
        kChangedWhileOpen, "CRPC3HeaderRegistry::mfAcquireHeader");
  }
  CRPC3Header* const shared = header.get();
  mBytes += shared->mfGetMemoryBytes();
  mEntries.push_back(Entry{key, std::move(header), 1});
  return shared;
}

void CRPC3HeaderRegistry::mpReleaseHeader(const CRPC3Header* header) {
  std::unique_ptr<CRPC3Header> released;
  {
    const std::lock_guard<std::mutex> lock(mMutex);
    const auto found = std::find_if(mEntries.begin(), mEntries.end(),
                                    [&](const Entry& entry) { return entry.mHeader.get() == header; });
    if (found == mEntries.end()) return;
    if (found->mCount >= 2) {
      --found->mCount;
      return;
    }
    released = std::move(found->mHeader);
    mBytes -= released->mfGetMemoryBytes();
    mEntries.erase(found);
  }
  // The header is freed outside the lock: no other holder can reach it any more.
}

std::size_t CRPC3HeaderRegistry::mfGetNumberOfEntries() const {
  const std::lock_guard<std::mutex> lock(mMutex);
  return mEntries.size();
}

std::size_t CRPC3HeaderRegistry::mfGetBytes() const { return mBytes.load(); }

int CRPC3HeaderRegistry::mfGetCount(const Utility::CStringU& key) const {
  const std::lock_guard<std::mutex> lock(mMutex);
  int count = 0;
  for (const Entry& entry : mEntries) {
    if (entry.mKey.mfCompare(key) == 0) count += entry.mCount;
  }
  return count;
}

}  // namespace TamblixHq::NODRA::Drivers::RPC3
