// Process-wide map from access-point names to the directories they stand for; the file
// layer confines every open to these directories. Safe for concurrent use.
#pragma once

#include <map>
#include <shared_mutex>
#include <utility>
#include <vector>

#include "host/utility/CStringU.h"

namespace TamblixHq::NODRA::Utility {

class CAccessPointMapU {
public:
  // Created on first use and never destroyed.
  static CAccessPointMapU* sfGetAccessPointMapU();

  CAccessPointMapU(const CAccessPointMapU&) = delete;
  CAccessPointMapU& operator=(const CAccessPointMapU&) = delete;

  // Names are case-sensitive. Setting a known name replaces its directory.
  void mpSetAccessPoint(const CStringU& name, const CStringU& directory);
  void mpRemoveAccessPoint(const CStringU& name);
  void mpClear();
  CStringU mfGetAccessPointValue(const CStringU& name) const;  // "" for an unknown name
  std::vector<std::pair<CStringU, CStringU>> mfGetAccessPoints() const;  // sorted by name

private:
  CAccessPointMapU() = default;

  mutable std::shared_mutex mMutex;
  std::map<CStringU, CStringU> mDirectories;  // guarded by mMutex
};

}  // namespace TamblixHq::NODRA::Utility
