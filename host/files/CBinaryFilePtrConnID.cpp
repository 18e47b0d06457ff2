#include "host/files/CBinaryFilePtrConnID.h"

#include <utility>

namespace TamblixHq::NODRA::Framework {

CBinaryFilePtrConnID::CBinaryFilePtrConnID(const Utility::CStringU& path)
    : mIdentity(CConfinedFileId::sfFromKey(path)) {}

CBinaryFilePtrConnID::CBinaryFilePtrConnID(const Utility::CObjectIdU& id)
    : mIdentity(id.mfGetObjectId()) {}

CBinaryFilePtrConnID::CBinaryFilePtrConnID(CConfinedFileId identity)
    : mIdentity(std::move(identity)) {}

}  // namespace TamblixHq::NODRA::Framework
