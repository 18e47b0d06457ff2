// Names the data file of a file connection, as drivers name it: from the backslash path of
// a header key, or from an identifier's access point, sub-directory and file name.
// Immutable after construction; safe to share.
#pragma once

#include <string>

#include "host/files/CConfinedFileId.h"
#include "host/utility/CObjectIdU.h"
#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Framework {

class CBinaryFilePtrConnID {
public:
  // path as "<access point directory>\<sub-directory>\<file>" or without the sub-directory.
  explicit CBinaryFilePtrConnID(const Utility::CStringU& path);
  // Fields 0, 1 and 2 (access point, sub-directory, file) of the wrapped identifier.
  explicit CBinaryFilePtrConnID(const Utility::CObjectIdU& id);
  explicit CBinaryFilePtrConnID(CConfinedFileId identity);

  const CConfinedFileId& mfGetIdentity() const { return mIdentity; }
  const Utility::CStringU& mfGetKey() const { return mIdentity.mfGetKey(); }
  const std::string& mfGetPath() const { return mIdentity.mfGetPath(); }

private:
  CConfinedFileId mIdentity;
};

}  // namespace TamblixHq::NODRA::Framework
