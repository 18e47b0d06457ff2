// What a program registers to serve RPC III files: the servant class of each type id in
// the resolver's table, and the detector by which the root object recognises RPC III files.
// Call once per process, before the ORB serves requests.
#pragma once

#include "host/framework/CConfinedFileId.h"
#include "host/framework/CDataServerImpl.h"
#include "host/framework/CResolverImpl.h"

namespace TamblixHq::NODRA::Drivers::RPC3 {

// Fills the resolver's type table with the RPC III servants and registers RPC III files
// with the root object, when one is given.
void registerRPC3Types(Framework::CResolverImpl& resolver, Framework::CDataServerImpl* server);

// True when the file opens and starts like an RPC III header that the header reader reads.
bool isRPC3File(const Framework::CConfinedFileId& file);

}  // namespace TamblixHq::NODRA::Drivers::RPC3
