#include "tests/support/OrbHarness.h"

#include "rpc3/servants/RPC3Registration.h"
#include "host/framework/CResolverImpl.h"

namespace nodra::test {

OrbHarness& OrbHarness::sfGet() {
  static OrbHarness* harness = [] {
    auto* h = new OrbHarness;
    int argc = 0;
    const char* options[][2] = {{"giopMaxMsgSize", "8388608"}, {nullptr, nullptr}};
    h->mOrb = CORBA::ORB_init(argc, nullptr, "omniORB4", options);
    CORBA::Object_var object = h->mOrb->resolve_initial_references("RootPOA");
    h->mRootPoa = PortableServer::POA::_narrow(object);
    auto* resolver = TamblixHq::NODRA::Framework::CResolverImpl::sfGetResolverImpl();
    resolver->mpInit(h->mOrb, h->mRootPoa, {});
    h->mServer = new TamblixHq::NODRA::Framework::CDataServerImpl;
    TamblixHq::NODRA::Drivers::RPC3::registerRPC3Types(*resolver, h->mServer);
    h->mServerRef = h->mServer->_this();
    PortableServer::POAManager_var manager = h->mRootPoa->the_POAManager();
    manager->activate();
    return h;
  }();
  return *harness;
}

}  // namespace nodra::test
