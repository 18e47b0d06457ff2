#include "host/utility/CFilePathU.h"

#include "host/utility/CAccessPointMapU.h"

namespace TamblixHq::NODRA::Utility {

CStringU CFilePathU::sfBuild(const CStringU& accessPoint, const CStringU& subDirectory, const CStringU& fileName) {
  CStringU path = CAccessPointMapU::sfGetAccessPointMapU()->mfGetAccessPointValue(accessPoint);
  if (!subDirectory.mfIsEmpty()) {
    path.mfAddChar(kSeparator);
    path.mfAddString(subDirectory);
  }
  path.mfAddChar(kSeparator);
  path.mfAddString(fileName);
  return path;
}

}  // namespace TamblixHq::NODRA::Utility
