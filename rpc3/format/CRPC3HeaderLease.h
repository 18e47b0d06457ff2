// One acquisition of a file's shared header from the header registry, given back when the
// lease ends, on every path. Servants keep one for their life; builders hold one briefly.
// A lease is used by one owner; the header it gives is safe for concurrent lookups.
#pragma once

#include <utility>

#include "host/framework/CConfinedFileId.h"
#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/CRPC3HeaderRegistry.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

class CRPC3HeaderLease {
public:
  // Acquires the header of the file; throws the header's DBAccessException when it cannot
  // be read, and then holds nothing.
  explicit CRPC3HeaderLease(Framework::CConfinedFileId file)
      : mFile(std::move(file)), mHeader(CRPC3HeaderRegistry::sfGetHeaderRegistry()->mfAcquireHeader(mFile)) {}
  // Released by the identity it was acquired with.
  ~CRPC3HeaderLease() { CRPC3HeaderRegistry::sfGetHeaderRegistry()->mpReleaseHeader(mFile); }
  CRPC3HeaderLease(const CRPC3HeaderLease&) = delete;
  CRPC3HeaderLease& operator=(const CRPC3HeaderLease&) = delete;

  const CRPC3Header* operator->() const { return mHeader; }
  const CRPC3Header& operator*() const { return *mHeader; }
  // The file the header was read from.
  const Framework::CConfinedFileId& mfGetFile() const { return mFile; }

private:
  Framework::CConfinedFileId mFile;
  CRPC3Header* mHeader;
};

}  // namespace TamblixHq::NODRA::Drivers::RPC3
