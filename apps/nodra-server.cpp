// nodra-server: serves directories of RPC III files to CORBA clients over IIOP.
//
//   nodra-server --access-point NAME=DIR [--access-point ...] [--port N]
//
// The root object is published under the fixed key "NodraServer", so clients reach it as
// corbaloc::HOST:PORT/NodraServer.

#include <CLI/CLI.hpp>

#include <csignal>
#include <filesystem>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "rpc3/servants/RPC3Registration.h"
#include "host/framework/CDataServerImpl.h"
#include "host/framework/CResolverImpl.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CLoggerU.h"

namespace {

namespace FW = TamblixHq::NODRA::Framework;
using TamblixHq::NODRA::Utility::CAccessPointMapU;
using TamblixHq::NODRA::Utility::CStringU;

// SIGINT and SIGTERM are blocked in every thread (call before the ORB starts any) and
// taken by one thread of our own, which stops the ORB.
sigset_t blockShutdownSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  return signals;
}

void shutDownOnSignal(CORBA::ORB_ptr orb, sigset_t signals) {
  CORBA::ORB_var held = CORBA::ORB::_duplicate(orb);
  std::thread([held, signals]() mutable {
    int received = 0;
    sigwait(&signals, &received);
    held->shutdown(false);
  }).detach();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Serves directories of RPC III files to CORBA clients over IIOP."};
  std::vector<std::string> accessPoints;
  int port = 2810;
  std::string host = "127.0.0.1";
  unsigned maxMessageMiB = 64;
  std::size_t maxServants = 4096;
  unsigned chunkSize = 64;
  app.add_option("-a,--access-point", accessPoints, "NAME=DIR: serve the files of DIR as NAME")
      ->required();
  app.add_option("-p,--port", port, "TCP port to listen on")->check(CLI::Range(1, 65535));
  app.add_option("--host", host, "address to listen on");
  app.add_option("--max-message", maxMessageMiB, "largest GIOP message, MiB")
      ->check(CLI::Range(1u, 1024u));
  app.add_option("--max-servants", maxServants, "servants kept before eviction")
      ->check(CLI::Range(std::size_t{16}, std::size_t{1} << 24));
  app.add_option("--chunk-size", chunkSize, "channels per extended chunk")
      ->check(CLI::Range(1u, 65536u));
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;  // --help is no error; every other parse failure is usage
  }

  for (const std::string& entry : accessPoints) {
    std::size_t equals = entry.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == entry.size()) {
      std::cerr << "nodra-server: --access-point needs NAME=DIR, got \"" << entry << "\"\n";
      return 2;
    }
    std::string directory = entry.substr(equals + 1);
    std::error_code error;
    if (!std::filesystem::is_directory(directory, error)) {
      std::cerr << "nodra-server: access point " << entry.substr(0, equals) << ": \""
                << directory << "\" is not a directory\n";
      return 2;
    }
    CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(CStringU(entry.substr(0, equals)),
                                                               CStringU(directory));
  }
  const sigset_t shutdownSignals = blockShutdownSignals();

  // The ORB is configured from our options only; its own command-line options are not used.
  std::string endpoint = "giop:tcp:" + host + ":" + std::to_string(port);
  std::string maxMessage = std::to_string(maxMessageMiB * 1024u * 1024u);
  const char* options[][2] = {{"endPoint", endpoint.c_str()},
                              {"giopMaxMsgSize", maxMessage.c_str()},
                              {nullptr, nullptr}};
  int orbArgc = 0;
  try {
    CORBA::ORB_var orb = CORBA::ORB_init(orbArgc, nullptr, "omniORB4", options);
    shutDownOnSignal(orb, shutdownSignals);
    CORBA::Object_var object = orb->resolve_initial_references("RootPOA");
    PortableServer::POA_var root = PortableServer::POA::_narrow(object);
    object = orb->resolve_initial_references("omniINSPOA");
    PortableServer::POA_var insPoa = PortableServer::POA::_narrow(object);

    auto* resolver = FW::CResolverImpl::sfGetResolverImpl();
    FW::CResolverImpl::Settings settings;
    settings.maxServants = maxServants;
    settings.chunkSize = chunkSize;
    resolver->mpInit(orb, root, settings);

    auto* server = new FW::CDataServerImpl;
    TamblixHq::NODRA::Drivers::RPC3::registerRPC3Types(*resolver, server);
    PortableServer::ObjectId_var key = PortableServer::string_to_ObjectId("NodraServer");
    insPoa->activate_object_with_id(key, server);
    server->_remove_ref();

    PortableServer::POAManager_var manager = root->the_POAManager();
    manager->activate();
    manager = insPoa->the_POAManager();
    manager->activate();

    std::cerr << "nodra-server: serving at corbaloc::" << host << ":" << port
              << "/NodraServer" << std::endl;
    orb->run();
    resolver->mpShutdown();
    orb->destroy();
    std::cerr << "nodra-server: stopped" << std::endl;
    return 0;
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    std::cerr << "nodra-server: cannot serve at " << endpoint << ": " << e._name() << " ("
              << (minor ? minor : "no detail") << ")" << std::endl;
    return 1;
  } catch (const CORBA::Exception& e) {
    std::cerr << "nodra-server: " << e._name() << std::endl;
    return 1;
  }
}
