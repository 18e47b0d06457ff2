// One acquisition of a file's shared header from the header registry, given back when the
// lease ends, on every path. Servants keep one for their life; builders hold one briefly.
// A lease is used by one owner; the header it gives is safe for concurrent lookups.
#pragma once

#include "host/utility/CFilePathU.h"
#include "host/utility/CStringU.h"
#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/CRPC3HeaderRegistry.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

class CRPC3HeaderLease {
public:
  // Acquires the header of (access point, sub-directory, file name); throws the header's
  // DBAccessException when it cannot be read, and then holds nothing.
  CRPC3HeaderLease(const char* accessPoint, const char* subDirectory, const char* fileName)
      : mKey(Utility::CFilePathU::sfBuild(accessPoint, subDirectory, fileName)),
        mHeader(CRPC3HeaderRegistry::sfGetHeaderRegistry()->mfAcquireHeaderByKey(mKey)) {}
  // Released by the key it was acquired with.
  ~CRPC3HeaderLease() { CRPC3HeaderRegistry::sfGetHeaderRegistry()->mpReleaseHeaderByKey(mKey); }
  CRPC3HeaderLease(const CRPC3HeaderLease&) = delete;
  CRPC3HeaderLease& operator=(const CRPC3HeaderLease&) = delete;

  const CRPC3Header* operator->() const { return mHeader; }
  const CRPC3Header& operator*() const { return *mHeader; }

private:
  Utility::CStringU mKey;
  CRPC3Header* mHeader;
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
