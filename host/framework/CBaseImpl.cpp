#include "host/framework/CBaseImpl.h"

#include <cstring>

namespace TamblixHq::NODRA::Framework {

namespace {

bool sameDefinition(const IDL::AnnotationDef& a, const IDL::AnnotationDef& b) {
  return std::strcmp(a.name, b.name) == 0 && std::strcmp(a.group, b.group) == 0 &&
         std::strcmp(a.owner_type, b.owner_type) == 0;
}

template <class Predicate>
IDL::AnnotationSeq* select(const IDL::AnnotationSeq& all, Predicate keep) {
  auto* result = new IDL::AnnotationSeq;
  result->length(all.length());
  CORBA::ULong n = 0;
  for (CORBA::ULong i = 0; i < all.length(); ++i) {
    if (keep(all[i])) (*result)[n++] = all[i];
  }
  result->length(n);
  return result;
}

}  // namespace

CBaseImpl::CBaseImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : mId(id ? *id : IDL::ObjectId()), mPoa(PortableServer::POA::_duplicate(poa)) {}

CBaseImpl::~CBaseImpl() = default;

void CBaseImpl::_add_ref() { mReferences.fetch_add(1, std::memory_order_relaxed); }

void CBaseImpl::_remove_ref() {
  // Release: this thread's use of the servant happens before the deletion; acquire: the
  // deleting thread sees every other thread's use.
  if (mReferences.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

CORBA::ULong CBaseImpl::_refcount_value() { return mReferences.load(std::memory_order_relaxed); }

IDL::ObjectId* CBaseImpl::get_object_id() { return new IDL::ObjectId(mId); }

IDL::Base_ptr CBaseImpl::get_parent() {
  // Objects are reached from their file downwards; a servant does not know its parent's
  // reference, and a nil parent tells the client so.
  return IDL::Base::_nil();
}

void CBaseImpl::mpFillAnnotationContainer() {}

void CBaseImpl::mpAddAnnotation(const IDL::AnnotationDef& definition,
                                const IDL::DSVariantUnion& value) {
  std::lock_guard<std::mutex> lock(mAnnotationsMutex);
  CORBA::ULong n = mAnnotations.length();
  mAnnotations.length(n + 1);
  mAnnotations[n].definition = definition;
  mAnnotations[n].value = value;
}

void CBaseImpl::mpAddAnnotation(const char* name, const IDL::DSVariantUnion& value) {
  IDL::AnnotationDef definition;
  definition.name = name;
  definition.group = "";
  definition.owner_type = mId.type_id;
  mpAddAnnotation(definition, value);
}

IDL::AnnotationSeq CBaseImpl::mfFilledAnnotations() {
  {
    std::lock_guard<std::mutex> fill(mFillMutex);
    mpFillAnnotationContainer();
  }
  std::lock_guard<std::mutex> lock(mAnnotationsMutex);
  return mAnnotations;
}

CORBA::ULong CBaseImpl::get_number_of_all_annotations() {
  return mfFilledAnnotations().length();
}

CORBA::ULong CBaseImpl::get_number_of_annotations(const char* name) {
  IDL::AnnotationSeq_var found = get_all_annotations_by_name(name);
  return found->length();
}

IDL::AnnotationSeq* CBaseImpl::get_all_annotations() {
  return new IDL::AnnotationSeq(mfFilledAnnotations());
}

IDL::AnnotationSeq* CBaseImpl::get_annotations(const IDL::StringSeq& names) {
  return select(mfFilledAnnotations(), [&](const IDL::Annotation& a) {
    for (CORBA::ULong i = 0; i < names.length(); ++i) {
      if (std::strcmp(a.definition.name, names[i]) == 0) return true;
    }
    return false;
  });
}

IDL::AnnotationDefSeq* CBaseImpl::get_all_annotation_defs() {
  IDL::AnnotationSeq all = mfFilledAnnotations();
  auto* defs = new IDL::AnnotationDefSeq;
  defs->length(all.length());
  for (CORBA::ULong i = 0; i < all.length(); ++i) (*defs)[i] = all[i].definition;
  return defs;
}

IDL::AnnotationDefSeq* CBaseImpl::get_annotation_defs(const char* group) {
  IDL::AnnotationSeq_var inGroup = get_all_annotations_by_group(group);
  auto* defs = new IDL::AnnotationDefSeq;
  defs->length(inGroup->length());
  for (CORBA::ULong i = 0; i < inGroup->length(); ++i) (*defs)[i] = inGroup[i].definition;
  return defs;
}

IDL::Annotation* CBaseImpl::get_annotation(const IDL::AnnotationDef& definition) {
  IDL::AnnotationSeq all = mfFilledAnnotations();
  for (CORBA::ULong i = 0; i < all.length(); ++i) {
    if (sameDefinition(all[i].definition, definition)) return new IDL::Annotation(all[i]);
  }
  std::string message = std::string("No annotation named \"") +
                        static_cast<const char*>(definition.name) + "\"";
  throw IDL::DBAccessException(message.c_str(), "annotation not found",
                               "CBaseImpl::get_annotation");
}

IDL::AnnotationSeq* CBaseImpl::get_all_annotations_by_name(const char* name) {
  return select(mfFilledAnnotations(), [&](const IDL::Annotation& a) {
    return std::strcmp(a.definition.name, name) == 0;
  });
}

IDL::AnnotationSeq* CBaseImpl::get_all_annotations_by_group(const char* group) {
  return select(mfFilledAnnotations(), [&](const IDL::Annotation& a) {
    return std::strcmp(a.definition.group, group) == 0;
  });
}

CORBA::Boolean CBaseImpl::get_evictable() { return mfIsEvictable(); }

void CBaseImpl::set_evictable(CORBA::Boolean evictable) {
  mEvictable.store(evictable, std::memory_order_relaxed);
}

void CBaseImpl::release_cache() {
  // The base caches nothing but annotations, which are cheap and fixed for the object's
  // life; derived servants that cache data drop it here.
}

char* CBaseImpl::get_idl_type_id() {
  // The repository id of the most derived interface this servant implements.
  omniServant* servant = this;
  return CORBA::string_dup(servant->_mostDerivedRepoId());
}

PortableServer::POA_ptr CBaseImpl::_default_POA() {
  return PortableServer::POA::_duplicate(mPoa);
}

}  // namespace TamblixHq::NODRA::Framework
