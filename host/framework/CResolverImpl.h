// Turns object identifiers into object references. The data objects' servants live in one
// POA under object ids that encode the whole identifier (CObjectIdCodec); the constructor
// the program registered for the type id (CTypeTable) builds them on first use, or again
// after eviction, and a bounded cache (CServantCache) keeps them.
// Safe for concurrent use from any number of ORB threads.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include "host/framework/CServantCache.h"
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
    std::size_t maxServantBytes = std::size_t{32} << 20;  // and beyond this many bytes
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
  // nil when no servant type is registered for its type id or the identifier is not one
  // the server writes (CObjectIdCodec::sfCheckFields). Exceptions of the servant's
  // construction pass to the caller.
  IDL::Base_ptr mfResolve(const IDL::ObjectId& id);
  // A new reference to the object of an identifier without building its servant: the
  // locator builds it at the first call on the reference, and errors of its construction
  // reach that call (OBJECT_NOT_EXIST, TRANSIENT). Nil exactly when mfResolve gives nil
  // for a reason other than the constructor's own (see mfServableType).
  IDL::Base_ptr mfReference(const IDL::ObjectId& id);

  // Repository id of a child type, "" when it is not registered; the text stays valid for
  // the life of the process, even if the type is registered again. The driver text
  // (identifier field 3) is accepted for any driver: type ids are unique across drivers.
  const char* mfIDLTypeIdChild(const char* driver, const char* childTypeId);

  void mpSetMaxServants(std::size_t maxServants);
  void mpSetMaxServantBytes(std::size_t maxBytes);
  // Evicts up to `count` evictable servants, least recently used first, so that what they
  // hold elsewhere (file headers) can go; answers how many went. REQUIRES: the caller holds
  // no lock that a servant's destructor takes.
  std::size_t mfEvictOldest(std::size_t count);
  CORBA::ULong mfGetChunkSize() const;
  void mpSetChunkSize(CORBA::ULong chunkSize);

  std::size_t mfGetNumberOfServants() const;  // live servants in the cache
  std::size_t mfGetNumberOfIncarnations() const;  // servants built so far

  // The servant for a request to the object id `oid` (bytes a client sent), with one
  // reference for the request; used by the POA's servant locator.
  PortableServer::ServantBase* mfLocate(const PortableServer::ObjectId& oid);

private:
  CResolverImpl();

  // A new reference to the POA of the data objects; nil outside mpInit ... mpShutdown.
  PortableServer::POA_ptr mfGetPoa() const;
  // The registration of an identifier's type when the resolver would build a servant for
  // it: an identifier the server writes (CObjectIdCodec::sfCheckFields) of a registered
  // type. The one rule of mfResolve, mfReference and the locator.
  std::optional<CTypeTable::Entry> mfServableType(const IDL::ObjectId& id) const;
  // A reference with object id `key` and the type's repository id in `poa`.
  static IDL::Base_ptr sfReferenceOf(const std::string& key, const char* repositoryId,
                                     PortableServer::POA_ptr poa);
  // The servant of an identifier with one reference for the caller, cached or built in
  // `poa`; null when its type id has no servant type. `repositoryId` receives the type's.
  // REQUIRES: mMutex not held (servants evicted meanwhile are released in here).
  PortableServer::ServantBase* mfAcquireServant(const std::string& key, const IDL::ObjectId& id,
                                                const CTypeTable::Entry& type,
                                                PortableServer::POA_ptr poa);

  mutable std::mutex mMutex;  // guards mOrb, mPoa and mChunkSize
  CORBA::ORB_var mOrb;
  PortableServer::POA_var mPoa;
  CORBA::ULong mChunkSize;
  CTypeTable mTypes;
  CServantCache mServants;
};

}  // namespace TamblixHq::NODRA::Framework
