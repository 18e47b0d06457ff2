#include "host/framework/CBinaryFilePtrConnID.h"

#include <algorithm>

#include "host/utility/CFilePathU.h"

namespace TamblixHq::NODRA::Framework {

CBinaryFilePtrConnID::CBinaryFilePtrConnID(const Utility::CStringU& path)
    : mKey(path), mPath(sfToSlashes(path.mfStd())) {}

CBinaryFilePtrConnID::CBinaryFilePtrConnID(const Utility::CObjectIdU& id)
    : CBinaryFilePtrConnID(Utility::CFilePathU::sfBuild(id.mfGetField(0), id.mfGetField(1), id.mfGetField(2))) {}

const Utility::CStringU& CBinaryFilePtrConnID::mfGetKey() const { return mKey; }

const std::string& CBinaryFilePtrConnID::mfGetPath() const { return mPath; }

std::string CBinaryFilePtrConnID::sfToSlashes(const std::string& key) {
  std::string path(key);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace TamblixHq::NODRA::Framework
