// One acquisition of a file's shared header from the header registry, given back when the
// lease ends, on every path. Servants keep one for their life; builders hold one briefly.
// A lease is used by one owner; the header it gives is safe for concurrent lookups.
#pragma once

#include <optional>
#include <utility>

#include "host/files/CConfinedFileId.h"
#include "host/utility/CFileVersionU.h"
#include "nodra/Framework.hh"
#include "rpc3/format/CRPC3Header.h"
#include "rpc3/format/CRPC3HeaderRegistry.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

class CRPC3HeaderLease {
public:
  // Acquires the header of the file as it is now, or of `version` when one is given; throws
  // the registry's DBAccessException when it cannot be had, and then holds nothing.
  explicit CRPC3HeaderLease(Framework::CConfinedFileId file,
                            std::optional<Utility::CFileVersionU> version = std::nullopt)
      : mFile(std::move(file)),
        mHeader(CRPC3HeaderRegistry::sfGetHeaderRegistry()->mfAcquireHeader(mFile, version)) {}
  // The header of the file version an object identifier was opened on (its extension
  // field; see CDataServerImpl::open_file), or of the file as it is now when it names none.
  explicit CRPC3HeaderLease(const ::TAMBLIX::NODRA::Framework::ObjectId& id)
      : CRPC3HeaderLease(Framework::CConfinedFileId(id),
                         Utility::CFileVersionU::sfFromText(static_cast<const char*>(id.extension))) {}
  ~CRPC3HeaderLease() { CRPC3HeaderRegistry::sfGetHeaderRegistry()->mpReleaseHeader(mHeader); }
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
