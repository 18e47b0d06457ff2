#include "host/framework/CServantCache.h"

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

CServantCache::CServantCache(std::size_t maxServants) : mMaxServants(maxServants) {}

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
  mEntries.emplace(key, Entry{servant, mLru.begin()});
  servant->_add_ref();
  mpEvict(released, true);
  return servant;
}

void CServantCache::mpEvict(CReleaseList& released, bool keepNewest) {
  for (bool force : {false, true}) {
    if (mEntries.size() <= mMaxServants) return;
    if (force && mEntries.size() <= 2 * mMaxServants) return;
    std::size_t excess = mEntries.size() - mMaxServants;
    // Oldest first; `it` walks from the back towards the newest entry at the front.
    auto it = mLru.end();
    while (excess > 0 && it != mLru.begin()) {
      --it;
      if (keepNewest && it == mLru.begin()) break;
      auto entry = mEntries.find(*it);
      auto* base = dynamic_cast<CBaseImpl*>(entry->second.servant);
      if (force || !base || base->mfIsEvictable()) {
        released.mpAdd(entry->second.servant);
        mEntries.erase(entry);
        it = mLru.erase(it);
        --excess;
      }
    }
  }
}

void CServantCache::mpSetMaxServants(std::size_t maxServants) {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  mMaxServants = maxServants;
  mpEvict(released, false);
}

void CServantCache::mpClear() {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  while (!mLru.empty()) {
    auto entry = mEntries.find(mLru.back());
    released.mpAdd(entry->second.servant);
    mEntries.erase(entry);
    mLru.pop_back();
  }
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
