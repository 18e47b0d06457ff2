// The live servants of the data objects, one per key (an object id's bytes): built on
// first use, with concurrent requests for the same key waiting for that one build, and
// evicted least recently used first beyond a bound of servants and one of bytes (each
// servant counts its key, which it holds three times, and a fixed share for itself). Evicted servants are released only
// after the cache's lock is let go, as a servant's destructor may free a file header.
// Safe to share between threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

class CServantCache {
public:
  // Builds the servant of a key; its one reference passes to the cache. Null when the
  // key has no servant; may throw.
  using Builder = std::function<PortableServer::ServantBase*()>;

  // What one servant is taken to cost besides its key.
  static constexpr std::size_t kServantBytes = 2048;

  explicit CServantCache(std::size_t maxServants, std::size_t maxBytes = SIZE_MAX);
  ~CServantCache();  // drops every servant
  CServantCache(const CServantCache&) = delete;
  CServantCache& operator=(const CServantCache&) = delete;

  // The servant of `key` with one reference for the caller, built by `build` (without the
  // lock) when the cache has none; null when `build` gives null. Marks it most recently
  // used and spares it from the eviction this call makes. An exception from `build`
  // passes to the caller; requests that waited for that build then try their own.
  // REQUIRES: the caller holds no lock that a servant's destructor takes.
  PortableServer::ServantBase* mfAcquire(const std::string& key, const Builder& build);

  // Evictable servants kept beyond `maxServants` or `maxBytes` are evicted, at once and
  // from then on. Servants pinned with set_evictable(false) are kept until the cache holds
  // twice a bound: clients cannot grow it without limit by pinning.
  void mpSetMaxServants(std::size_t maxServants);
  void mpSetMaxBytes(std::size_t maxBytes);
  // Evicts up to `count` evictable servants, least recently used first, whatever the
  // bounds (memory held elsewhere for them is wanted back); answers how many went.
  // REQUIRES: the caller holds no lock that a servant's destructor takes.
  std::size_t mfEvictOldest(std::size_t count);
  void mpClear();  // drops every servant

  std::size_t mfGetNumberOfServants() const;      // servants in the cache
  std::size_t mfGetBytes() const;                 // what they are taken to cost
  std::size_t mfGetNumberOfIncarnations() const;  // servants built so far

private:
  class CReleaseList;
  struct Entry {
    PortableServer::ServantBase* servant;  // one reference held by the cache
    std::list<std::string>::iterator lru;
    std::size_t bytes;
  };

  // REQUIRES: mMutex held. Whether the cache holds more than `factor` times a bound.
  bool mfOver(std::size_t factor) const;
  // REQUIRES: mMutex held. Evicts evictable servants beyond the bounds, and any beyond twice
  // a bound (down to the bound), sparing the most recently
  // used when `keepNewest` (it is being handed out); their references go to `released`.
  void mpEvict(CReleaseList& released, bool keepNewest);
  // REQUIRES: mMutex held. Takes the entry out; its reference goes to `released`.
  void mpRemove(CReleaseList& released, std::unordered_map<std::string, Entry>::iterator entry);

  mutable std::mutex mMutex;  // guards every member below
  std::size_t mMaxServants;
  std::size_t mMaxBytes;
  std::size_t mBytes = 0;
  std::unordered_map<std::string, Entry> mEntries;
  std::list<std::string> mLru;                 // most recently used at the front
  std::unordered_set<std::string> mBuilding;   // keys whose servant is being built
  std::condition_variable mBuilt;              // signalled when a build ends
  std::size_t mIncarnations = 0;
};

}  // namespace TamblixHq::NODRA::Framework
