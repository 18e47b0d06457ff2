#include "host/framework/CHostOrb.h"

#include <algorithm>
#include <cstring>

#include <omniORB4/minorCode.h>

namespace TamblixHq::NODRA::Framework {

void CHostOrb::sfSplitArguments(int argc, const char* const* argv, std::vector<std::string>& program,
                                std::vector<std::string>& orb) {
  program.clear();
  orb.clear();
  for (int i = 0; i < argc; ++i) {
    const char* argument = argv[i];
    if (i == 0 || std::strncmp(argument, "-ORB", 4) != 0) {
      program.emplace_back(argument);
      continue;
    }
    orb.emplace_back(argument);
    // Every ORB option takes one value but -ORBhelp; a missing value is the ORB's to refuse.
    if (std::strcmp(argument, "-ORBhelp") != 0 && i + 1 < argc) orb.emplace_back(argv[++i]);
  }
}

bool CHostOrb::sfShowOrbHelpIfAsked(const std::string& programName,
                                    const std::vector<std::string>& orbArguments) {
  if (std::find(orbArguments.begin(), orbArguments.end(), "-ORBhelp") == orbArguments.end()) return false;
  try {
    const CHostOrb helpOnly(programName, {"-ORBhelp"}, Settings{});
  } catch (const CORBA::SystemException&) {
    // The help has been printed by then; nothing else was asked of the ORB.
  }
  return true;
}

CHostOrb::CHostOrb(const std::string& programName, const std::vector<std::string>& orbArguments,
                   const Settings& settings) {
  std::vector<std::string> texts;
  texts.push_back(programName);
  texts.insert(texts.end(), orbArguments.begin(), orbArguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  int argc = static_cast<int>(texts.size());

  const std::string maxMessage = std::to_string(settings.maxMessageBytes);
  const std::string timeout = std::to_string(settings.callTimeoutMilliseconds);
  const char* options[5][2] = {{"giopMaxMsgSize", maxMessage.c_str()},
                               {"clientCallTimeOutPeriod", timeout.c_str()},
                               {"clientConnectTimeOutPeriod", timeout.c_str()},
                               {nullptr, nullptr},
                               {nullptr, nullptr}};
  const bool endpointsGiven = std::any_of(orbArguments.begin(), orbArguments.end(), [](const std::string& a) {
    return a.compare(0, 12, "-ORBendPoint") == 0;
  });
  mUsesSettingsEndpoint = !settings.endpoint.empty() && !endpointsGiven;
  if (mUsesSettingsEndpoint) {
    options[3][0] = "endPoint";
    options[3][1] = settings.endpoint.c_str();
  }
  mOrb = CORBA::ORB_init(argc, argv.data(), "omniORB4", options);
}

bool CHostOrb::sfIsTimeout(const CORBA::SystemException& e) {
  return dynamic_cast<const CORBA::TIMEOUT*>(&e) != nullptr ||
         (dynamic_cast<const CORBA::TRANSIENT*>(&e) != nullptr && e.minor() == omni::TRANSIENT_CallTimedout);
}

CHostOrb::~CHostOrb() {
  // The ORB stops serving first, waiting for the requests in progress: a request that ran
  // after the servants were dropped could build one anew, to be freed after the ORB.
  try {
    mOrb->shutdown(true);
  } catch (const CORBA::Exception&) {
    // Shut down already.
  }
  if (mServing) CResolverImpl::sfGetResolverImpl()->mpShutdown();
  mRoot = ::TAMBLIX::NODRA::Framework::DataServer::_nil();
  mInsPoa = PortableServer::POA::_nil();
  mRootPoa = PortableServer::POA::_nil();
  try {
    mOrb->destroy();
  } catch (const CORBA::Exception&) {
    // Destroyed already, or shutting down from a call in progress: nothing left to free.
  }
}

CDataServerImpl& CHostOrb::mpServeDataObjects(const CResolverImpl::Settings& settings,
                                              const std::string& corbalocKey) {
  CORBA::Object_var object = mOrb->resolve_initial_references("RootPOA");
  mRootPoa = PortableServer::POA::_narrow(object);
  CResolverImpl::sfGetResolverImpl()->mpInit(mOrb, mRootPoa, settings);
  mServing = true;

  auto* server = new CDataServerImpl;
  if (corbalocKey.empty()) {
    PortableServer::ObjectId_var id = mRootPoa->activate_object(server);
    object = mRootPoa->id_to_reference(id);
  } else {
    object = mOrb->resolve_initial_references("omniINSPOA");
    mInsPoa = PortableServer::POA::_narrow(object);
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId(corbalocKey.c_str());
    mInsPoa->activate_object_with_id(id, server);
    object = mInsPoa->id_to_reference(id);
  }
  server->_remove_ref();  // the POA keeps it
  mRoot = ::TAMBLIX::NODRA::Framework::DataServer::_narrow(object);
  return *server;
}

::TAMBLIX::NODRA::Framework::DataServer_ptr CHostOrb::mfGetRoot() const {
  return ::TAMBLIX::NODRA::Framework::DataServer::_duplicate(mRoot);
}

void CHostOrb::mpActivate() {
  if (!CORBA::is_nil(mRootPoa)) {
    PortableServer::POAManager_var manager = mRootPoa->the_POAManager();
    manager->activate();
  }
  if (!CORBA::is_nil(mInsPoa)) {
    PortableServer::POAManager_var manager = mInsPoa->the_POAManager();
    manager->activate();
  }
}

void CHostOrb::mpRun() { mOrb->run(); }

}  // namespace TamblixHq::NODRA::Framework
