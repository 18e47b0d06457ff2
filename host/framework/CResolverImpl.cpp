#include "host/framework/CResolverImpl.h"

#include <optional>
#include <utility>
#include <vector>

#include "host/framework/CBaseImpl.h"
#include "host/framework/CObjectIdCodec.h"

namespace TamblixHq::NODRA::Framework {

namespace {

// The POA's servant manager: hands each request the cached servant of its object id,
// building it again after an eviction.
class CServantLocator : public virtual POA_PortableServer::ServantLocator {
public:
  PortableServer::Servant preinvoke(const PortableServer::ObjectId& oid,
                                    PortableServer::POA_ptr, const char*,
                                    PortableServer::ServantLocator::Cookie& cookie) override {
    PortableServer::ServantBase* servant = CResolverImpl::sfGetResolverImpl()->mfLocate(oid);
    cookie = servant;
    return servant;
  }

  void postinvoke(const PortableServer::ObjectId&, PortableServer::POA_ptr, const char*,
                  PortableServer::ServantLocator::Cookie,
                  PortableServer::Servant servant) override {
    servant->_remove_ref();  // the reference mfLocate took for this request
  }
};

}  // namespace

// The servants whose cache reference is to be dropped. Declared before the lock it is
// filled under, it drops them once that lock is let go, on every way out of the scope: a
// servant's destructor may free a file header and must not run under mMutex.
class CResolverImpl::CReleaseList {
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

CResolverImpl* CResolverImpl::sfGetResolverImpl() {
  static CResolverImpl* resolver = new CResolverImpl();  // lives until the process ends
  return resolver;
}

void CResolverImpl::mpInit(CORBA::ORB_ptr orb, PortableServer::POA_ptr parent,
                           const Settings& settings) {
  std::lock_guard<std::mutex> lock(mMutex);
  mOrb = CORBA::ORB::_duplicate(orb);
  mSettings = settings;
  CORBA::PolicyList policies;
  policies.length(5);
  policies[0] = parent->create_lifespan_policy(PortableServer::PERSISTENT);
  policies[1] = parent->create_id_assignment_policy(PortableServer::USER_ID);
  policies[2] = parent->create_servant_retention_policy(PortableServer::NON_RETAIN);
  policies[3] = parent->create_request_processing_policy(PortableServer::USE_SERVANT_MANAGER);
  policies[4] = parent->create_implicit_activation_policy(PortableServer::NO_IMPLICIT_ACTIVATION);
  PortableServer::POAManager_var manager = parent->the_POAManager();
  mPoa = parent->create_POA("NodraData", manager, policies);
  for (CORBA::ULong i = 0; i < policies.length(); ++i) policies[i]->destroy();

  auto* locator = new CServantLocator();
  PortableServer::ServantLocator_var reference = locator->_this();
  locator->_remove_ref();  // the POA that activated it keeps it
  mPoa->set_servant_manager(reference);
}

void CResolverImpl::mpShutdown() {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  while (!mLru.empty()) {
    auto entry = mCache.find(mLru.back());
    released.mpAdd(entry->second.servant);
    mCache.erase(entry);
    mLru.pop_back();
  }
  mPoa = PortableServer::POA::_nil();
  mOrb = CORBA::ORB::_nil();
}

void CResolverImpl::mpRegisterType(const std::string& typeId, const std::string& repositoryId,
                                   Constructor constructor) {
  mTypes.mpRegister(typeId, repositoryId, std::move(constructor));
}

PortableServer::ServantBase* CResolverImpl::mfAcquireServant(
    const std::string& key, const IDL::ObjectId& id, std::string& repositoryId) {
  CReleaseList released;
  std::unique_lock<std::mutex> lock(mMutex);
  // Another thread building the same object: wait for it rather than build a second one.
  for (;;) {
    auto cached = mCache.find(key);
    if (cached != mCache.end()) {
      mLru.splice(mLru.begin(), mLru, cached->second.lru);
      PortableServer::ServantBase* servant = cached->second.servant;
      servant->_add_ref();
      repositoryId = mTypes.mfRepositoryId(static_cast<const char*>(id.type_id));
      mpEvict(released);
      return servant;
    }
    if (mBuilding.count(key) == 0) break;
    mBuilt.wait(lock);
  }
  std::optional<CTypeTable::Entry> type = mTypes.mfFind(static_cast<const char*>(id.type_id));
  if (!type || CORBA::is_nil(mPoa)) return nullptr;
  const Constructor constructor = std::move(type->constructor);
  repositoryId = type->repositoryId;
  PortableServer::POA_var poa = PortableServer::POA::_duplicate(mPoa);

  // Built without the lock: a servant may read its file, and other requests go on meanwhile.
  mBuilding.insert(key);
  lock.unlock();
  PortableServer::ServantBase* servant = nullptr;
  try {
    servant = constructor(&id, poa);
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
  mCache.emplace(key, CacheEntry{servant, mLru.begin()});
  servant->_add_ref();
  mpEvict(released);
  return servant;
}

void CResolverImpl::mpEvict(CReleaseList& released, bool keepNewest) {
  // Servants pinned with set_evictable(false) are spared until the cache holds twice the
  // bound: clients cannot grow it without limit by pinning.
  for (bool force : {false, true}) {
    if (mCache.size() <= mSettings.maxServants) return;
    if (force && mCache.size() <= 2 * mSettings.maxServants) return;
    std::size_t excess = mCache.size() - mSettings.maxServants;
    // Oldest first; `it` walks from the back towards the newest entry at the front.
    auto it = mLru.end();
    while (excess > 0 && it != mLru.begin()) {
      --it;
      if (keepNewest && it == mLru.begin()) break;
      auto entry = mCache.find(*it);
      auto* base = dynamic_cast<CBaseImpl*>(entry->second.servant);
      if (force || !base || base->mfIsEvictable()) {
        released.mpAdd(entry->second.servant);
        mCache.erase(entry);
        it = mLru.erase(it);
        --excess;
      }
    }
  }
}

IDL::Base_ptr CResolverImpl::mfResolve(const IDL::ObjectId& id) {
  std::string key = CObjectIdCodec::sfEncode(id);
  std::string repositoryId;
  PortableServer::ServantBase* servant = mfAcquireServant(key, id, repositoryId);
  if (!servant) return IDL::Base::_nil();
  servant->_remove_ref();  // the cache keeps its own reference

  PortableServer::POA_var poa;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    poa = PortableServer::POA::_duplicate(mPoa);
  }
  if (CORBA::is_nil(poa)) return IDL::Base::_nil();
  PortableServer::ObjectId oid(static_cast<CORBA::ULong>(key.size()),
                               static_cast<CORBA::ULong>(key.size()),
                               reinterpret_cast<CORBA::Octet*>(key.data()), false);
  CORBA::Object_var object = poa->create_reference_with_id(oid, repositoryId.c_str());
  return IDL::Base::_unchecked_narrow(object);
}

PortableServer::ServantBase* CResolverImpl::mfLocate(const PortableServer::ObjectId& oid) {
  IDL::ObjectId id;
  if (!CObjectIdCodec::sfDecode(oid, id)) throw CORBA::OBJECT_NOT_EXIST();
  // The key mfResolve makes for this identifier: a decoded id encodes back to the bytes
  // received.
  const std::string key = CObjectIdCodec::sfEncode(id);
  std::string repositoryId;
  PortableServer::ServantBase* servant = nullptr;
  try {
    servant = mfAcquireServant(key, id, repositoryId);
  } catch (const CORBA::SystemException&) {
    throw;
  } catch (const IDL::DBAccessException&) {
    // The object existed once but its file can no longer be read.
    throw CORBA::OBJECT_NOT_EXIST();
  } catch (...) {
    // Out of memory or descriptors, say: worth trying again later.
    throw CORBA::TRANSIENT();
  }
  if (!servant) throw CORBA::OBJECT_NOT_EXIST();
  return servant;  // its extra reference is dropped in postinvoke
}

const char* CResolverImpl::mfIDLTypeIdChild(const char*, const char* childTypeId) {
  return mTypes.mfRepositoryId(childTypeId ? childTypeId : "");
}

void CResolverImpl::mpSetMaxServants(std::size_t maxServants) {
  CReleaseList released;
  std::lock_guard<std::mutex> lock(mMutex);
  mSettings.maxServants = maxServants;
  mpEvict(released, false);
}

CORBA::ULong CResolverImpl::mfGetChunkSize() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mSettings.chunkSize;
}

void CResolverImpl::mpSetChunkSize(CORBA::ULong chunkSize) {
  std::lock_guard<std::mutex> lock(mMutex);
  mSettings.chunkSize = chunkSize;
}

std::size_t CResolverImpl::mfGetNumberOfServants() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mCache.size();
}

std::size_t CResolverImpl::mfGetNumberOfIncarnations() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mIncarnations;
}

}  // namespace TamblixHq::NODRA::Framework
