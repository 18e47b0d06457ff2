// One in-process ORB for a test program, set up on first use the way the programs set it
// up (CHostOrb): the data objects' POA with the RPC III servant table and the root object.
// Lives until the process ends. Safe to call from any thread.
#pragma once

#include <string>

#include "host/framework/CDataServerImpl.h"
#include "nodra/Framework.hh"

namespace TamblixHq::NODRA::Framework {
class CHostOrb;
}

namespace nodra::test {

struct OrbHarness {
  // Never destroyed: servants may be released by static objects until the process ends.
  // Held here so that it stays reachable until then rather than leak.
  TamblixHq::NODRA::Framework::CHostOrb* mHost = nullptr;
  CORBA::ORB_var mOrb;
  TamblixHq::NODRA::Framework::CDataServerImpl* mServer = nullptr;
  ::TAMBLIX::NODRA::Framework::DataServer_var mServerRef;

  static OrbHarness& sfGet();
};

// A client-only ORB for a program that talks to server processes: one connection per
// concurrent call (the ORB's default allows five per server), and messages up to 64 MiB.
// `program` is the program's name.
CORBA::ORB_ptr mfClientOrb(const char* program);

// The data server at `url` (a server process just started), once it answers; nil after
// about five seconds without an answer.
::TAMBLIX::NODRA::Framework::DataServer_ptr mfWaitForServer(CORBA::ORB_ptr orb, const std::string& url);

}  // namespace nodra::test
