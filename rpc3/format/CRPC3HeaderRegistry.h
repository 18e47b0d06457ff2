// Process-wide registry of parsed RPC III headers by file key: the first acquire of a file
// reads its header, later ones share it, the last release frees it. Safe for concurrent use:
// acquire and release are serialised by one mutex, and a header is read while that mutex is
// held (simple and correct; headers are small and read once per file).

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/framework/CConfinedFileId.h"
#include "host/utility/CStringU.h"
#include "rpc3/format/CRPC3Header.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

class CRPC3HeaderRegistry {
public:
  // The single registry, created on first use and never destroyed (headers still registered
  // when the process ends are not freed).
  static CRPC3HeaderRegistry* sfGetHeaderRegistry();

  CRPC3HeaderRegistry(const CRPC3HeaderRegistry&) = delete;
  CRPC3HeaderRegistry& operator=(const CRPC3HeaderRegistry&) = delete;

  // The shared header of a file, read on the first acquire of its key
  // (CConfinedFileId::mfGetKey). The pointer stays valid until the matching release. Throws
  // the header's DBAccessException when the header cannot be read; nothing is registered
  // then, so the next acquire tries again.
  CRPC3Header* mfAcquireHeader(const Framework::CConfinedFileId& file);
  // Gives one acquisition back; the last one frees the header. A key that is not registered
  // is ignored. A holder that releases the identity it acquired with gives back that header
  // even if an access point was re-pointed meanwhile.
  void mpReleaseHeader(const Framework::CConfinedFileId& file);

  // The same for (access point, sub-directory, file name).
  CRPC3Header* mfAcquireHeader(const Utility::CStringU& accessPoint,
                               const Utility::CStringU& subDirectory,
                               const Utility::CStringU& fileName);
  void mpReleaseHeader(const Utility::CStringU& accessPoint, const Utility::CStringU& subDirectory,
                       const Utility::CStringU& fileName);

  // Registered files (diagnostics and tests).
  std::size_t mfGetNumberOfEntries() const;

  // Acquisitions not yet released of a key; 0 when absent.
  int mfGetCount(const Utility::CStringU& key) const;

private:
  struct Entry {
    Utility::CStringU mKey;
    std::unique_ptr<CRPC3Header> mHeader;
    std::int32_t mCount;
  };

  CRPC3HeaderRegistry() = default;

  // First entry whose key equals `key` exactly, or end. REQUIRES: mMutex held.
  std::vector<Entry>::iterator mfFind(const Utility::CStringU& key);
  std::vector<Entry>::const_iterator mfFind(const Utility::CStringU& key) const;

  mutable std::mutex mMutex;
  std::vector<Entry> mEntries;  // in order of registration; guarded by mMutex
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
