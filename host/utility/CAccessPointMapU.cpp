#include "host/utility/CAccessPointMapU.h"

#include <mutex>

namespace TamblixHq::NODRA::Utility {

CAccessPointMapU* CAccessPointMapU::sfGetAccessPointMapU() {
  // Leaked on purpose: usable by threads and static objects until the process ends.
  static CAccessPointMapU* const sMap = new CAccessPointMapU;
  return sMap;
}

void CAccessPointMapU::mpSetAccessPoint(const CStringU& name, const CStringU& directory) {
  std::unique_lock<std::shared_mutex> lock(mMutex);
  mDirectories[name] = directory;
}

void CAccessPointMapU::mpRemoveAccessPoint(const CStringU& name) {
  std::unique_lock<std::shared_mutex> lock(mMutex);
  mDirectories.erase(name);
}

void CAccessPointMapU::mpClear() {
  std::unique_lock<std::shared_mutex> lock(mMutex);
  mDirectories.clear();
}

CStringU CAccessPointMapU::mfGetAccessPointValue(const CStringU& name) const {
  std::shared_lock<std::shared_mutex> lock(mMutex);
  const auto found = mDirectories.find(name);
  return found == mDirectories.end() ? CStringU() : found->second;
}

std::vector<std::pair<CStringU, CStringU>> CAccessPointMapU::mfGetAccessPoints() const {
  std::shared_lock<std::shared_mutex> lock(mMutex);
  return {mDirectories.begin(), mDirectories.end()};
}

}  // namespace TamblixHq::NODRA::Utility
