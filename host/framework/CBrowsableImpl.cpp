#include "host/framework/CBrowsableImpl.h"

#include <algorithm>

#include "host/framework/CResolverImpl.h"

namespace TamblixHq::NODRA::Framework {

CBrowsableImpl::CBrowsableImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa)
    : CBaseImpl(id, poa) {}

CBrowsableImpl::~CBrowsableImpl() = default;

void CBrowsableImpl::mpSetLabel(const std::string& label) {
  std::lock_guard<std::mutex> lock(mLabelMutex);
  mLabel = label;
  mLabelSet = true;
}

void CBrowsableImpl::mpSetDefaultLabel() {
  const IDL::ObjectId& id = mfGetId();
  const char* label = id.label;
  mpSetLabel(*label ? label : static_cast<const char*>(id.file_name));
}

char* CBrowsableImpl::get_label() {
  {
    std::lock_guard<std::mutex> lock(mLabelMutex);
    if (mLabelSet) return CORBA::string_dup(mLabel.c_str());
  }
  mpSetDefaultLabel();
  std::lock_guard<std::mutex> lock(mLabelMutex);
  return CORBA::string_dup(mLabel.c_str());
}

CORBA::Boolean CBrowsableImpl::is_composite() { return get_number_of_children() > 0; }

CORBA::ULong CBrowsableImpl::get_number_of_children() {
  IDL::BrowsableStructSeq_var children = mfCreateAllChildren();
  return children->length();
}

IDL::BrowsableStructSeq* CBrowsableImpl::mfCreateAllChildren() {
  return new IDL::BrowsableStructSeq;
}

IDL::BrowsableStructSeq* CBrowsableImpl::get_all_children() { return mfCreateAllChildren(); }

IDL::BrowsableExtendedStruct* CBrowsableImpl::get_all_children_extended_chunk(
    CORBA::ULong start) {
  IDL::BrowsableStructSeq_var all = mfCreateAllChildren();
  CORBA::ULong chunk = CResolverImpl::sfGetResolverImpl()->mfGetChunkSize();
  CORBA::ULong begin = std::min(start, all->length());
  CORBA::ULong end = begin + std::min(chunk, all->length() - begin);

  IDL::BrowsableExtendedStruct_var result = new IDL::BrowsableExtendedStruct;
  result->children.length(end - begin);
  result->annotations.length(end - begin);
  result->functions.length(end - begin);
  for (CORBA::ULong i = begin; i < end; ++i) {
    result->children[i - begin] = all[i];
    if (!CORBA::is_nil(all[i].reference)) {
      IDL::AnnotationSeq_var annotations = all[i].reference->get_all_annotations();
      result->annotations[i - begin] = annotations.in();
    }
  }
  return result._retn();
}

}  // namespace TamblixHq::NODRA::Framework
