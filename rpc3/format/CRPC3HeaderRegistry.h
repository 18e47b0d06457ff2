// Process-wide registry of parsed RPC III headers, one per version of a file: the first
// acquire of a file version reads its header, later ones share it, the last release frees
// it. A file rewritten or replaced under its name is a new version with a header of its
// own, so samples are never decoded with another version's header. The headers' memory is
// bounded: beyond the bound, the least recently used servants are evicted so that the
// headers only they held go. Safe for concurrent use: acquire and release are serialised
// by one mutex, and a header is read while that mutex is held (simple and correct; headers
// are small and read once per version).

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "host/files/CConfinedFileId.h"
#include "host/utility/CFileVersionU.h"
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

  // The shared header of a file (CConfinedFileId::mfGetKey) as it is now, or of `version`
  // when one is given: objects opened on one version keep to it. The pointer stays valid
  // until the matching mpReleaseHeader. Throws the header's DBAccessException when the
  // header cannot be read, and a DBAccessException "file changed while open" when the file
  // is no longer at `version`; nothing is registered then, so the next acquire tries again.
  CRPC3Header* mfAcquireHeader(const Framework::CConfinedFileId& file,
                               const std::optional<Utility::CFileVersionU>& version = std::nullopt);
  // The same for (access point, sub-directory, file name).
  CRPC3Header* mfAcquireHeader(const Utility::CStringU& accessPoint,
                               const Utility::CStringU& subDirectory,
                               const Utility::CStringU& fileName);

  // Gives one acquisition of `header` back; the last one frees it. A header that is not
  // registered (null, say) is ignored.
  void mpReleaseHeader(const CRPC3Header* header);

  // Registered headers, every version counted (diagnostics and tests).
  std::size_t mfGetNumberOfEntries() const;
  // What the registered headers take in memory (CRPC3Header::mfGetMemoryBytes summed).
  std::size_t mfGetBytes() const;
  // Beyond `maxBytes`, each acquire evicts the resolver's least recently used evictable
  // servants until the headers fit again or none is left to evict. The headers of servants
  // that cannot go (pinned, in a request, being built) stay: the bound is `maxBytes` and
  // those. Default 64 MiB.
  void mpSetMaxBytes(std::size_t maxBytes) { mMaxBytes = maxBytes; }

  // Acquisitions not yet released of a key, summed over its versions; 0 when absent.
  int mfGetCount(const Utility::CStringU& key) const;

  // The text of the DBAccessException raised for a file that changed under its objects.
  static constexpr const char* kChangedWhileOpen = "file changed while open";

private:
  struct Entry {
    Utility::CStringU mKey;
    std::unique_ptr<CRPC3Header> mHeader;
    std::int32_t mCount;
  };

  CRPC3HeaderRegistry() = default;

  // mfAcquireHeader but for the eviction; takes mMutex.
  CRPC3Header* mfAcquireHeaderLocked(const Framework::CConfinedFileId& file,
                                     const std::optional<Utility::CFileVersionU>& version);
  // Evicts servants while the headers take more than the bound. REQUIRES: mMutex not held.
  void mpRelieve();

  mutable std::mutex mMutex;
  std::vector<Entry> mEntries;  // in order of registration; guarded by mMutex
  std::atomic<std::size_t> mBytes{0};                     // written under mMutex
  std::atomic<std::size_t> mMaxBytes{std::size_t{64} << 20};
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
