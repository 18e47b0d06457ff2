// Base implementation of browsable objects: a label and a list of children, which derived
// servants produce through the mfCreateAllChildren hook. Safe to share between threads.
#pragma once

#include <mutex>
#include <string>

#include "host/framework/CBaseImpl.h"

namespace TamblixHq::NODRA::Framework {

class CBrowsableImpl : public virtual POA_TAMBLIX::NODRA::Framework::Browsable,
                      public virtual CBaseImpl {
public:
  CBrowsableImpl(const IDL::ObjectId* id, PortableServer::POA_ptr poa);
  ~CBrowsableImpl() override;

  // Browsable
  char* get_label() override;
  CORBA::Boolean is_composite() override;
  CORBA::ULong get_number_of_children() override;
  IDL::BrowsableStructSeq* get_all_children() override;
  // Children [start, start + chunk size) with their annotations. The base knows no function
  // records, so the function entries stay empty (nil references); drivers whose children
  // are functions override this.
  IDL::BrowsableExtendedStruct* get_all_children_extended_chunk(CORBA::ULong start) override;

protected:
  // Sets the label when none was set: the identifier's label, or its file name.
  virtual void mpSetDefaultLabel();
  // The full list of children, new and owned by the caller. The base has none.
  virtual IDL::BrowsableStructSeq* mfCreateAllChildren();

  void mpSetLabel(const std::string& label);

private:
  std::mutex mLabelMutex;
  std::string mLabel;
  bool mLabelSet = false;
};

}  // namespace TamblixHq::NODRA::Framework
