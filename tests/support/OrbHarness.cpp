#include "tests/support/OrbHarness.h"

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/framework/CHostOrb.h"
#include "rpc3/servants/RPC3Registration.h"

namespace nodra::test {

OrbHarness& OrbHarness::sfGet() {
  static OrbHarness* harness = [] {
    namespace FW = TamblixHq::NODRA::Framework;
    FW::CHostOrb::Settings settings;
    settings.endpoint = "giop:tcp:127.0.0.1:";
    settings.maxMessageBytes = 8u << 20;
    auto* orb = new FW::CHostOrb("test", {}, settings);
    auto* h = new OrbHarness;
    h->mHost = orb;
    h->mOrb = CORBA::ORB::_duplicate(orb->mfOrb());
    h->mServer = &TamblixHq::NODRA::Drivers::RPC3::serveRPC3Files(*orb);
    orb->mpActivate();
    h->mServerRef = orb->mfGetRoot();
    return h;
  }();
  return *harness;
}

CORBA::ORB_ptr mfClientOrb(const char* program) {
  std::vector<std::string> args = {program, "-ORBmaxGIOPConnectionPerServer", "1024",
                                   "-ORBgiopMaxMsgSize", std::to_string(64u << 20)};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  int argc = static_cast<int>(argv.size());
  return CORBA::ORB_init(argc, argv.data());
}

::TAMBLIX::NODRA::Framework::DataServer_ptr mfWaitForServer(CORBA::ORB_ptr orb, const std::string& url) {
  namespace IDL = ::TAMBLIX::NODRA::Framework;
  for (int attempt = 0; attempt < 100; ++attempt) {
    try {
      CORBA::Object_var object = orb->string_to_object(url.c_str());
      IDL::DataServer_var root = IDL::DataServer::_narrow(object);
      if (!CORBA::is_nil(root)) return root._retn();
    } catch (const CORBA::TRANSIENT&) {
      // Not listening yet.
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return IDL::DataServer::_nil();
}

}  // namespace nodra::test
