// Turns object identifiers into object references: a table that the program fills maps
// each type id to the constructor of its servant; servants live in one POA under object
// ids that encode the whole identifier, are built on first use (or again after eviction)
// and are evicted least recently used first beyond a configured number.
// Safe for concurrent use from any number of ORB threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/framework/CTypeTable.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CResolverImpl {
public:
  // Builds the servant of an identifier; may throw (the file cannot be read, ...).
  using Constructor = CTypeTable::Constructor;

  struct Settings {
    std::size_t maxServants = 4096;  // evictable servants kept beyond this are evicted
    CORBA::ULong chunkSize = 64;     // children per extended chunk
  };

  static CResolverImpl* sfGetResolverImpl();

  // Creates the POA of the data objects below `parent` (persistent, user ids, located on
  // demand). Call once, after ORB_init, before any lookup.
  void mpInit(CORBA::ORB_ptr orb, PortableServer::POA_ptr parent, const Settings& settings);
  // Drops every servant; call before the ORB is destroyed.
  void mpShutdown();

  // Servant constructor and repository id (the interface clients see) of a type id.
  void mpRegisterType(const std::string& typeId, const std::string& repositoryId,
                      Constructor constructor);
  template <class Servant>
  void mpRegisterType(const std::string& typeId, const std::string& repositoryId) {
    mpRegisterType(typeId, repositoryId,
                   [](const IDL::ObjectId* id, PortableServer::POA_ptr poa)
                       -> PortableServer::ServantBase* { return new Servant(id, poa); });
  }

  // A new reference to the object of an identifier, building its servant when none lives;
  // nil when no servant type is registered for its type id. Exceptions of the servant's
  // construction pass to the caller.
  IDL::Base_ptr mfResolve(const IDL::ObjectId& id);

  // Repository id of a child type, "" when it is not registered; the text stays valid for
  // the life of the process, even if the type is registered again. The driver text
  // (identifier field 3) is accepted for any driver: type ids are unique across drivers.
  const char* mfIDLTypeIdChild(const char* driver, const char* childTypeId);

  void mpSetMaxServants(std::size_t maxServants);
  CORBA::ULong mfGetChunkSize() const;
  void mpSetChunkSize(CORBA::ULong chunkSize);

  std::size_t mfGetNumberOfServants() const;  // live servants in the cache
  std::size_t mfGetNumberOfIncarnations() const;  // servants built so far

  // The servant for a request to the object id `oid` (bytes a client sent), with one
  // reference for the request; used by the POA's servant locator.
  PortableServer::ServantBase* mfLocate(const PortableServer::ObjectId& oid);

private:
  struct CacheEntry {
    PortableServer::ServantBase* servant;  // one reference held by the cache
    std::list<std::string>::iterator lru;
  };

  CResolverImpl() = default;

  class CReleaseList;

  // The cached servant of a key with one reference for the caller, built (without mMutex)
  // when absent; null when no servant type is registered. Marks it most recently used.
  // REQUIRES: mMutex not held.
  PortableServer::ServantBase* mfAcquireServant(const std::string& key, const IDL::ObjectId& id,
                                                std::string& repositoryId);
  // REQUIRES: mMutex held. Evicts least recently used evictable servants beyond the bound,
  // sparing the newest when `keepNewest` (it is being handed out); their last references
  // are handed to `released`, dropped after the lock is let go.
  void mpEvict(CReleaseList& released, bool keepNewest = true);

  mutable std::mutex mMutex;
  CORBA::ORB_var mOrb;
  PortableServer::POA_var mPoa;
  Settings mSettings;
  CTypeTable mTypes;
  std::unordered_map<std::string, CacheEntry> mCache;
  std::list<std::string> mLru;  // most recently used at the front
  std::unordered_set<std::string> mBuilding;  // keys whose servant is being built
  std::condition_variable mBuilt;             // signalled when a build ends
  std::size_t mIncarnations = 0;
};

}  // namespace TamblixHq::NODRA::Framework
