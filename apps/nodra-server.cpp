// nodra-server: serves directories of RPC III files to CORBA clients over IIOP.
//
//   nodra-server --access-point NAME=DIR [--access-point ...] [--port N] [-ORB... options]
//
// The root object is published under the fixed key "NodraServer", so clients reach it as
// corbaloc::HOST:PORT/NodraServer.

#include <CLI/CLI.hpp>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/framework/CHostOrb.h"
#include "host/utility/CAccessPointMapU.h"
#include "rpc3/servants/RPC3Registration.h"

namespace {

namespace FW = TamblixHq::NODRA::Framework;
namespace RPC3 = TamblixHq::NODRA::Drivers::RPC3;
using TamblixHq::NODRA::Utility::CAccessPointMapU;

constexpr const char* kRootKey = "NodraServer";
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
  std::vector<std::string> arguments, orbArguments;
  FW::CHostOrb::sfSplitArguments(argc, argv, arguments, orbArguments);

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
  app.footer(FW::CHostOrb::kOrbOptionsHelp);
  try {
    std::vector<const char*> programArgv;
    for (const std::string& argument : arguments) programArgv.push_back(argument.c_str());
    app.parse(static_cast<int>(programArgv.size()), programArgv.data());
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

  FW::CHostOrb::Settings orbSettings;
  orbSettings.endpoint = "giop:tcp:" + host + ":" + std::to_string(port);
  orbSettings.maxMessageBytes = static_cast<unsigned long>(maxMessageMiB) << 20;
  std::unique_ptr<FW::CHostOrb> orb;
  try {
    orb = std::make_unique<FW::CHostOrb>(arguments[0], orbArguments, orbSettings);
  } catch (const CORBA::SystemException& e) {
    std::cerr << "nodra-server: the ORB refused its options (" << e._name() << "); "
              << FW::CHostOrb::kOrbOptionsHelp << std::endl;
    return 2;
  }
  try {
    shutDownOnSignal(orb->mfOrb(), shutdownSignals);
    FW::CResolverImpl::Settings settings;
    settings.maxServants = maxServants;
    settings.chunkSize = chunkSize;
    FW::CDataServerImpl& server = orb->mpServeDataObjects(settings, kRootKey);
    RPC3::registerRPC3Types(*FW::CResolverImpl::sfGetResolverImpl(), &server);
    orb->mpActivate();
    if (orb->mfUsesSettingsEndpoint()) {
      std::cerr << "nodra-server: serving at corbaloc::" << host << ":" << port << "/" << kRootKey
                << std::endl;
    } else {
      std::cerr << "nodra-server: serving under the key " << kRootKey
                << " at the endpoints given with -ORBendPoint" << std::endl;
    }
    orb->mpRun();
    orb.reset();
    std::cerr << "nodra-server: stopped" << std::endl;
    return 0;
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    std::cerr << "nodra-server: cannot serve at " << orbSettings.endpoint << ": " << e._name()
              << " (" << (minor ? minor : "no detail") << ")" << std::endl;
    return 1;
  } catch (const CORBA::Exception& e) {
    std::cerr << "nodra-server: " << e._name() << std::endl;
    return 1;
  }
}
