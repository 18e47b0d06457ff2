#include "host/framework/CServantCache.h"

#include <iterator>
#include <vector>

#include "host/framework/CBaseImpl.h"

namespace TamblixHq::NODRA::Framework {

// The servants whose cache reference is to be dropped. Declared before the lock it is
// filled under, it drops them once that lock is let go, on every way out of the scope.
class CServantCache::CReleaseList {
public:
  CReleaseList() = default;
  CReleaseList(const CReleaseList&) = delete;
  CReleaseList& operator=(const CReleaseList&) = delete;
  ~CReleaseList() {
    for (PortableServer::ServantBase* servant : mServants) servant->_remove_ref();
  }

  // Add before taking the servant out of the cache: if this throws, the cache still
  // owns it.
  void mpAdd(PortableServer::ServantBase* servant) { mServants.push_back(servant); }

private:
  std::vector<PortableServer::ServantBase*> mServants;
};

CServantCache::CServantCache(std::size_t maxServants, std::size_t maxBytes)
    : mMaxServants(maxServants), mMaxBytes(maxBytes) {}

CServantCache::~CServantCache() { mpClear(); }

PortableServer::ServantBase* CServantCache::mfAcquire(const std::string& key,
                                                      const Builder& build) {
  CReleaseList released;
  std::unique_lock<std::mutex> lock(mMutex);
  // Another thread building the same object: wait for it rather than build a second one.
  for (;;) {
    auto cached = mEntries.find(key);
    if (cached != mEntries.end()) {
      mLru.splice(mLru.begin(), mLru, cached->second.lru);
      PortableServer::ServantBase* servant = cached->second.servant;
      servant->_add_ref();
      mpEvict(released, true);
      return servant;
    }
    if (mBuilding.count(key) == 0) break;
    mBuilt.wait(lock);
  }

  // Built without the lock: a servant may read its file, and other requests go on meanwhile.
  mBuilding.insert(key);
  lock.unlock();
  PortableServer::ServantBase* servant = nullptr;
  try {
    servant = build();
  } catch (...) {
    lock.lock();
    mBuilding.erase(key);
    mBuilt.notify_all();
    throw;
  }
  lock.lock();
  mBuilding.erase(key);
  mBuilt.notify_all();
  if (!servant) return nullptr;
  ++mIncarnations;
  mLru.push_front(key);
  const std::size_t bytes = kServantBytes + 3 * key.size();
  mEntries.emplace(key, Entry{servant, mLru.begin(), bytes});
  mBytes += bytes;
  servant->_add_ref();
  mpEvict(released, true);
  return servant;
}

bool CServantCache::mfOver(std::size_t factor) const {
  return mEntries.size() > factor * mMaxServants || mBytes / factor > mMaxBytes;
}

void CServantCache::mpRemove(CReleaseList& released, std::unordered_map<std::string, Entry>::iterator entry) {
  released.mpAdd(entry->second.servant);
  mBytes -= entry->second.bytes;
  mLru.erase(entry->second.lru);
  mEntries.erase(entry);
}

void CServantCache::mpEvict(CReleaseList& released, bool keepNewest) {
  for (bool force : {false, true}) {
    if (!mfOver(1)) return;
    if (force && !mfOver(2)) return;
    // Oldest first; `it` walks from the back towards the newest entry at the front.
    auto it = mLru.end();
    while (mfOver(1) && it != mLru.begin()) {
      --it;
      if (keepNewest && it == mLru.begin()) break;
      auto entry = mEntries.find(*it);
      auto* base = dynamic_cast<CBaseImpl*>(entry->second.servant);
      if (force || !base || base->mfIsEvictable()) {
        auto next = std::next(it);
        mpRemove(released, entry);
        it = next;
      }
    }
  }
}

std::size_t CServantCache::mfEvictOldest(std::size_t count) {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  std::size_t evicted = 0;
  for (auto it = mLru.end(); evicted < count && it != mLru.begin();) {
    --it;
    auto entry = mEntries.find(*it);
    auto* base = dynamic_cast<CBaseImpl*>(entry->second.servant);
    if (base && !base->mfIsEvictable()) continue;
    auto next = std::next(it);
    mpRemove(released, entry);
    it = next;
    ++evicted;
  }
  return evicted;
}

void CServantCache::mpSetMaxServants(std::size_t maxServants) {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  mMaxServants = maxServants;
  mpEvict(released, false);
}

void CServantCache::mpSetMaxBytes(std::size_t maxBytes) {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  mMaxBytes = maxBytes;
  mpEvict(released, false);
}

void CServantCache::mpClear() {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  while (!mLru.empty()) mpRemove(released, mEntries.find(mLru.back()));
}

std::size_t CServantCache::mfGetBytes() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mBytes;
}

std::size_t CServantCache::mfGetNumberOfServants() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mEntries.size();
}

std::size_t CServantCache::mfGetNumberOfIncarnations() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mIncarnations;
}

}  // namespace TamblixHq::NODRA::Framework
