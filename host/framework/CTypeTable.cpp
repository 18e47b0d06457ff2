#include "host/framework/CTypeTable.h"

#include <utility>

namespace TamblixHq::NODRA::Framework {

void CTypeTable::mpRegister(const std::string& typeId, const std::string& repositoryId,
                            Constructor constructor) {
  std::lock_guard<std::mutex> lock(mMutex);
  const char* interned = mRepositoryIds.insert(repositoryId).first->c_str();
  mTypes[typeId] = Entry{interned, std::move(constructor)};
}

std::optional<CTypeTable::Entry> CTypeTable::mfFind(const std::string& typeId) const {
  std::lock_guard<std::mutex> lock(mMutex);
  auto type = mTypes.find(typeId);
  if (type == mTypes.end()) return std::nullopt;
  return type->second;
}

const char* CTypeTable::mfRepositoryId(const std::string& typeId) const {
  std::lock_guard<std::mutex> lock(mMutex);
  auto type = mTypes.find(typeId);
  return type == mTypes.end() ? "" : type->second.repositoryId;
}

}  // namespace TamblixHq::NODRA::Framework
