#include "host/utility/CObjectIdU.h"

#include <memory>

namespace TamblixHq::NODRA::Utility {

namespace {

const char* fText(const char* text) { return text == nullptr ? "" : text; }

// The field of a position; null for a position outside 0..10.
const ::CORBA::String_member* fField(const ObjectId& id, int index) {
  switch (index) {
    case 0: return &id.access_point;
    case 1: return &id.sub_directory;
    case 2: return &id.file_name;
    case 3: return &id.driver;
    case 4: return &id.domain;
    case 5: return &id.type_id;
    case 6: return &id.item;
    case 7: return &id.label;
    case 8: return &id.axis;
    case 9: return &id.index;
    case 10: return &id.extension;
    default: return nullptr;
  }
}

}  // namespace

// String members start as "".
CObjectIdU::CObjectIdU() = default;

CObjectIdU::CObjectIdU(const ObjectId& id) : mId(id) {}

ObjectId* CObjectIdU::mfGetCorrectObjectId(const char* f0, const char* f1, const char* f2,
                                           const char* f3, const char* f4, const char* f5,
                                           const char* f6, const char* f7, const char* f8,
                                           const char* f9, const char* f10) const {
  auto id = std::make_unique<ObjectId>();
  // Assigning a const char* to a string member copies the text.
  id->access_point = fText(f0);
  id->sub_directory = fText(f1);
  id->file_name = fText(f2);
  id->driver = fText(f3);
  id->domain = fText(f4);
  id->type_id = fText(f5);
  id->item = fText(f6);
  id->label = fText(f7);
  id->axis = fText(f8);
  id->index = fText(f9);
  id->extension = fText(f10);
  return id.release();
}

const ObjectId& CObjectIdU::mfGetObjectId() const { return mId; }

CStringU CObjectIdU::mfGetField(int index) const { return sfGetField(mId, index); }

::CORBA::String_member* CObjectIdU::sfFieldMember(ObjectId& id, int index) {
  return const_cast<::CORBA::String_member*>(fField(id, index));
}

CStringU CObjectIdU::sfGetField(const ObjectId& id, int index) {
  const ::CORBA::String_member* field = fField(id, index);
  return field == nullptr ? CStringU() : CStringU(field->in());
}

}  // namespace TamblixHq::NODRA::Utility
