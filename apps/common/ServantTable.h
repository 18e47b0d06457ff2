// The program's side of the framework: which servant class serves each type id, and the
// set-up of the ORB objects (resolver POA, root object) shared by the server, the browser
// and the tests.
#pragma once

#include "host/framework/CDataServerImpl.h"
#include "host/framework/CResolverImpl.h"

namespace nodra {

// Fills the resolver's type table with the RPC III servants and registers RPC III files
// with the root object, when one is given.
void registerRPC3Types(TamblixHq::NODRA::Framework::CResolverImpl& resolver,
                       TamblixHq::NODRA::Framework::CDataServerImpl* server);

// True when the file at a '/' path starts like an RPC III header (first keyword "FORMAT").
bool looksLikeRPC3File(const std::string& path);

}  // namespace nodra
