// Base implementation of every data object servant: keeps the object's identifier, its
// annotation container and its evictable flag, and answers the Base interface from them.
// Safe to share between threads: the container and the fill hook are serialised.
#pragma once

#include <atomic>
#include <mutex>

#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {

namespace IDL = ::TAMBLIX::NODRA::Framework;

class CBaseImpl : public virtual POA_TAMBLIX::NODRA::Framework::Base {
public:
  CBaseImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CBaseImpl() override;
  CBaseImpl(const CBaseImpl&) = delete;
  CBaseImpl& operator=(const CBaseImpl&) = delete;

  // Base
  IDL::ObjectId* get_object_id() override;
  IDL::Base_ptr get_parent() override;
  CORBA::ULong get_number_of_all_annotations() override;
  CORBA::ULong get_number_of_annotations(const char* name) override;
  IDL::AnnotationSeq* get_all_annotations() override;
  IDL::AnnotationSeq* get_annotations(const IDL::StringSeq& names) override;
  IDL::AnnotationDefSeq* get_all_annotation_defs() override;
  IDL::AnnotationDefSeq* get_annotation_defs(const char* group) override;
  IDL::Annotation* get_annotation(const IDL::AnnotationDef& definition) override;
  IDL::AnnotationSeq* get_all_annotations_by_name(const char* name) override;
  IDL::AnnotationSeq* get_all_annotations_by_group(const char* group) override;
  CORBA::Boolean get_evictable() override;
  void set_evictable(CORBA::Boolean evictable) override;
  void release_cache() override;
  char* get_idl_type_id() override;

  PortableServer::POA_ptr _default_POA() override;

  // Reference counting with the ORB's rule (the servant is deleted with its last
  // reference), kept here rather than in the ORB's library: the last reference is often
  // dropped on another thread than the one that last served a request, and only an
  // instrumented counter lets ThreadSanitizer see that the deletion follows that request.
  void _add_ref() override;
  void _remove_ref() override;
  CORBA::ULong _refcount_value() override;

  // The identifier this servant was built for; valid for the servant's life.
  const IDL::ObjectId& mfGetId() const { return mId; }
  bool mfIsEvictable() const { return mEvictable.load(std::memory_order_relaxed); }

protected:
  // Hook through which a servant adds its own annotations (with mpAddAnnotation) before
  // they are queried; called before every annotation query, serialised per servant.
  // Overrides add theirs once and then call their base's hook.
  virtual void mpFillAnnotationContainer();

  // Appends a copy of an annotation to the container.
  void mpAddAnnotation(const IDL::AnnotationDef& definition, const IDL::DSVariantUnion& value);
  // The same for an ungrouped annotation that this object's type carries.
  void mpAddAnnotation(const char* name, const IDL::DSVariantUnion& value);

private:
  // A snapshot of the container after the fill hook has run.
  IDL::AnnotationSeq mfFilledAnnotations();

  IDL::ObjectId mId;
  PortableServer::POA_var mPoa;
  std::atomic<CORBA::ULong> mReferences{1};  // the creator's
  std::atomic<bool> mEvictable{true};
  std::mutex mFillMutex;         // serialises mpFillAnnotationContainer
  std::mutex mAnnotationsMutex;  // guards mAnnotations
  IDL::AnnotationSeq mAnnotations;
};

}  // namespace TamblixHq::NODRA::Framework
