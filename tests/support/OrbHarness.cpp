#include "tests/support/OrbHarness.h"

#include "host/framework/CHostOrb.h"
#include "host/framework/CResolverImpl.h"
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
    h->mServer = &orb->mpServeDataObjects({});
    TamblixHq::NODRA::Drivers::RPC3::registerRPC3Types(*FW::CResolverImpl::sfGetResolverImpl(),
                                                       h->mServer);
    orb->mpActivate();
    h->mServerRef = orb->mfGetRoot();
    return h;
  }();
  return *harness;
}

}  // namespace nodra::test
