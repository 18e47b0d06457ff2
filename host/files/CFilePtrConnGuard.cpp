#include "host/files/CFilePtrConnGuard.h"

#include "host/files/CFilePool.h"

namespace TamblixHq::NODRA::Framework {

CFilePtrConnGuard::CFilePtrConnGuard(const CBinaryFilePtrConnID& id) : CFilePtrConnGuard(id, std::nullopt) {}

CFilePtrConnGuard::CFilePtrConnGuard(const CBinaryFilePtrConnID& id,
                                     const std::optional<Utility::CFileVersionU>& expected)
    : mFile(CFilePool::sfGetFilePool().mfAcquire(id.mfGetIdentity(), expected, mRealPath, mError)) {}

CFilePtrConnGuard::~CFilePtrConnGuard() {
  if (mFile) CFilePool::sfGetFilePool().mpRelease(mRealPath, std::move(mFile));
}

Utility::CFileU* CFilePtrConnGuard::mfFilePtr() const { return mFile.get(); }

const std::string& CFilePtrConnGuard::mfGetError() const { return mError; }

}  // namespace TamblixHq::NODRA::Framework
