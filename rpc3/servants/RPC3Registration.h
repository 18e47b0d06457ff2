// Serving RPC III files on an ORB: the one set-up the server, the embedded programs and the
// tests share.
#pragma once

#include <string>

#include "host/files/CConfinedFileId.h"
#include "host/framework/CDataServerImpl.h"
#include "host/framework/CHostOrb.h"
#include "host/framework/CResolverImpl.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

// Serves the data objects on `orb` (see CHostOrb::mpServeDataObjects), fills the resolver's
// type table with the RPC III servants and registers RPC III files with the root object.
// The caller then activates the ORB. REQUIRES: called once per process, before mpActivate.
Framework::CDataServerImpl& serveRPC3Files(Framework::CHostOrb& orb,
                                           const Framework::CResolverImpl::Settings& settings = {},
                                           const std::string& corbalocKey = "");

// True when the file opens and starts like an RPC III header that the header reader reads.
bool isRPC3File(const Framework::CConfinedFileId& file);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
