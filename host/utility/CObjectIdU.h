// Builds framework ObjectIds from their eleven field texts and wraps one identifier for
// the file connection. Not safe to share between threads while being assigned.
#pragma once

#include "host/utility/CStringU.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Utility {

using TAMBLIX::NODRA::Framework::ObjectId;

class CObjectIdU {
public:
  static constexpr int kFieldCount = 11;

  CObjectIdU();                            // every field ""
  explicit CObjectIdU(const ObjectId& id);  // keeps a copy

  // A new ObjectId with the texts in field order (0 access_point ... 10 extension); a null
  // text gives "". The caller owns the result and deletes it.
  ObjectId* mfGetCorrectObjectId(const char* f0, const char* f1, const char* f2, const char* f3,
                                 const char* f4, const char* f5, const char* f6, const char* f7,
                                 const char* f8, const char* f9, const char* f10) const;
  const ObjectId& mfGetObjectId() const;
  CStringU mfGetField(int index) const;  // field of the wrapped identifier, as sfGetField

  // Field by position 0..10; "" for any other index.
  static CStringU sfGetField(const ObjectId& id, int index);
  // The member of a field by position 0..10, to read or assign in place; null for another
  // index.
  static ::CORBA::String_member* sfFieldMember(ObjectId& id, int index);

private:
  ObjectId mId;
};

}  // namespace TamblixHq::NODRA::Utility
