// One in-process ORB for a test program, set up on first use the way the programs set it
// up (CHostOrb): the data objects' POA with the RPC III servant table and the root object.
// Lives until the process ends. Safe to call from any thread.
#pragma once

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

}  // namespace nodra::test
