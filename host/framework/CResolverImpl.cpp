#include "host/framework/CResolverImpl.h"

#include <optional>
#include <utility>

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

CResolverImpl::CResolverImpl()
    : mChunkSize(Settings().chunkSize), mServants(Settings().maxServants) {}

CResolverImpl* CResolverImpl::sfGetResolverImpl() {
  static CResolverImpl* resolver = new CResolverImpl();  // lives until the process ends
  return resolver;
}

void CResolverImpl::mpInit(CORBA::ORB_ptr orb, PortableServer::POA_ptr parent,
                           const Settings& settings) {
  mServants.mpSetMaxServants(settings.maxServants);
  mServants.mpSetMaxBytes(settings.maxServantBytes);
  std::lock_guard<std::mutex> lock(mMutex);
  mOrb = CORBA::ORB::_duplicate(orb);
  mChunkSize = settings.chunkSize;
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
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mPoa = PortableServer::POA::_nil();
    mOrb = CORBA::ORB::_nil();
  }
  mServants.mpClear();
}

void CResolverImpl::mpRegisterType(const std::string& typeId, const std::string& repositoryId,
                                   Constructor constructor) {
  mTypes.mpRegister(typeId, repositoryId, std::move(constructor));
}

PortableServer::POA_ptr CResolverImpl::mfGetPoa() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return PortableServer::POA::_duplicate(mPoa);
}

std::optional<CTypeTable::Entry> CResolverImpl::mfServableType(const IDL::ObjectId& id) const {
  // A reference the locator would refuse is never handed out.
  if (CObjectIdCodec::sfCheckFields(id) != nullptr) return std::nullopt;
  return mTypes.mfFind(static_cast<const char*>(id.type_id));
}

IDL::Base_ptr CResolverImpl::sfReferenceOf(const std::string& key, const char* repositoryId,
                                           PortableServer::POA_ptr poa) {
  PortableServer::ObjectId oid(static_cast<CORBA::ULong>(key.size()),
                               static_cast<CORBA::ULong>(key.size()),
                               reinterpret_cast<CORBA::Octet*>(const_cast<char*>(key.data())), false);
  CORBA::Object_var object = poa->create_reference_with_id(oid, repositoryId);
  return IDL::Base::_unchecked_narrow(object);
}

PortableServer::ServantBase* CResolverImpl::mfAcquireServant(const std::string& key,
                                                             const IDL::ObjectId& id,
                                                             const CTypeTable::Entry& type,
                                                             PortableServer::POA_ptr poa) {
  return mServants.mfAcquire(key, [&] { return type.constructor(&id, poa); });
}

IDL::Base_ptr CResolverImpl::mfResolve(const IDL::ObjectId& id) {
  std::optional<CTypeTable::Entry> type = mfServableType(id);
  PortableServer::POA_var poa = mfGetPoa();
  if (!type || CORBA::is_nil(poa)) return IDL::Base::_nil();
  const std::string key = CObjectIdCodec::sfEncode(id);
  PortableServer::ServantBase* servant = mfAcquireServant(key, id, *type, poa);
  if (!servant) return IDL::Base::_nil();
  servant->_remove_ref();  // the cache keeps its own reference
  return sfReferenceOf(key, type->repositoryId, poa);
}

IDL::Base_ptr CResolverImpl::mfReference(const IDL::ObjectId& id) {
  std::optional<CTypeTable::Entry> type = mfServableType(id);
  PortableServer::POA_var poa = mfGetPoa();
  if (!type || CORBA::is_nil(poa)) return IDL::Base::_nil();
  return sfReferenceOf(CObjectIdCodec::sfEncode(id), type->repositoryId, poa);
}

PortableServer::ServantBase* CResolverImpl::mfLocate(const PortableServer::ObjectId& oid) {
  // The servant cache's key is the id's bytes as received: the codec reads only what it
  // writes, so a servant built for these bytes answers without decoding them again, and
  // they are decoded only to build one.
  if (oid.length() > CObjectIdCodec::kMaxEncodedSize) throw CORBA::OBJECT_NOT_EXIST();
  const std::string key(reinterpret_cast<const char*>(oid.get_buffer()), oid.length());
  auto build = [&]() -> PortableServer::ServantBase* {
    IDL::ObjectId id;
    if (!CObjectIdCodec::sfDecode(oid, id)) return nullptr;
    PortableServer::POA_var poa = mfGetPoa();
    std::optional<CTypeTable::Entry> type = mfServableType(id);
    if (!type || CORBA::is_nil(poa)) return nullptr;
    return type->constructor(&id, poa);
  };
  PortableServer::ServantBase* servant = nullptr;
  try {
    servant = mServants.mfAcquire(key, build);
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
  mServants.mpSetMaxServants(maxServants);
}

void CResolverImpl::mpSetMaxServantBytes(std::size_t maxBytes) { mServants.mpSetMaxBytes(maxBytes); }

std::size_t CResolverImpl::mfEvictOldest(std::size_t count) { return mServants.mfEvictOldest(count); }

CORBA::ULong CResolverImpl::mfGetChunkSize() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mChunkSize;
}

void CResolverImpl::mpSetChunkSize(CORBA::ULong chunkSize) {
  std::lock_guard<std::mutex> lock(mMutex);
  mChunkSize = chunkSize;
}

std::size_t CResolverImpl::mfGetNumberOfServants() const {
  return mServants.mfGetNumberOfServants();
}

std::size_t CResolverImpl::mfGetNumberOfIncarnations() const {
  return mServants.mfGetNumberOfIncarnations();
}

}  // namespace TamblixHq::NODRA::Framework
