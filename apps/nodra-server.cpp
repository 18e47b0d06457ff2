// nodra-server: serves directories of RPC III files to CORBA clients over IIOP.
//
//   nodra-server --access-point NAME=DIR [--access-point ...] [--port N] [--name NAME]
//                [--ior-file PATH] [-v|-vv] [--config PATH] [--version] [-ORB... options]
//
// The root object is published under the fixed key "NodraServer", so clients reach it as
// corbaloc::HOST:PORT/NodraServer; with --name also through the naming service, and with
// --ior-file by the reference written there.

#include <CLI/CLI.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "apps/options/AccessPoints.h"
#include "apps/options/ServerOptions.h"
#include "clients/cpp/Failure.h"
#include "host/files/CAccessPointDirectories.h"
#include "host/framework/CCallSlots.h"
#include "host/files/CConfinedFileId.h"
#include "host/framework/CHostOrb.h"
#include "host/framework/CNamingServiceBinding.h"
#include "host/framework/RainflowReply.h"
#include "host/utility/CAccessPointMapU.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/ShutdownSignals.h"
#include "rpc3/format/CRPC3HeaderRegistry.h"
#include "rpc3/servants/RPC3Registration.h"

namespace {

namespace FW = TamblixHq::NODRA::Framework;
namespace RPC3 = TamblixHq::NODRA::Drivers::RPC3;
namespace Client = TamblixHq::NODRA::Client;
using TamblixHq::NODRA::Utility::CAccessPointMapU;
using TamblixHq::NODRA::Utility::CLoggerU;
using TamblixHq::NODRA::Utility::CStringU;

constexpr const char* kRootKey = "NodraServer";

constexpr const char* kDescription =
    "Serves directories of RPC III files to CORBA clients over IIOP.\n"
    "Clients reach the server as corbaloc::HOST:PORT/NodraServer, by the IOR written with\n"
    "--ior-file, or by the name given with --name in a naming service.";

constexpr const char* kFooter =
    "--name finds the naming service through -ORBInitRef NameService=corbaname::HOST:PORT\n"
    "(or InitRef in the ORB's configuration file). NAME may be compound, as in site/rig1:\n"
    "missing contexts are made. An earlier entry of the name is replaced; the name is\n"
    "withdrawn when the server stops. Without a naming service the server says so and serves.\n"
    "\n"
    "Example, with a naming service on namehost:\n"
    "  nodra-server --access-point rig=/data/rig --host 0.0.0.0 --name site/rig1 \\\n"
    "      -ORBInitRef NameService=corbaname::namehost:2809\n"
    "  nodra-browse --server corbaname::namehost:2809#site/rig1 rig/road-load.rsp\n"
    "\n"
    "Every option can be set in the file --config reads, by its long name: port = 2810,\n"
    "access-point = [\"rig=/data/rig\", \"track=/data/track\"]; the command line wins. The\n"
    "package's service reads /etc/nodra/nodra-server.conf.\n"
    "\n"
    "SIGINT or SIGTERM stop the server cleanly. Exit status: 0 after a clean stop, 1 when it\n"
    "cannot serve (address in use, IOR file not written), 2 on a usage error.\n\n";

// Every line the program says goes through the process-wide logger, so that --verbose
// filters the program's lines and the servants' alike.
void say(const std::string& text, int level = CLoggerU::kError) {
  CLoggerU::sfGetLoggerU(0)->mpPrintText("nodra-server: " + text, level);
}

// Writes `text` and a line break to `path` through a temporary file beside it, renamed
// into place, so that a reader sees the whole text or none. Answers why it failed, or "".
std::string writeWholeFile(const std::string& path, const std::string& text) {
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return std::strerror(errno);
  const std::string line = text + "\n";
  int error = ::fchmod(fd, 0644) == 0 ? 0 : errno;  // mkstemp makes it private; a reference is not
  for (std::size_t done = 0; error == 0 && done < line.size();) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      error = errno;
    }
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error == 0) return "";
  ::unlink(temporary.c_str());
  return std::strerror(error);
}

// Why `path` cannot take the IOR file, judged before the server starts: "" when it can.
std::string iorFileUsageProblem(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::is_directory(path, error)) return "\"" + path + "\" is a directory";
  const fs::path directory = fs::path(path).parent_path();
  if (!directory.empty() && !fs::is_directory(directory, error)) {
    return "the directory \"" + directory.string() + "\" does not exist";
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments, orbArguments;
  FW::CHostOrb::sfSplitArguments(argc, argv, arguments, orbArguments);
  if (FW::CHostOrb::sfShowOrbHelpIfAsked(arguments[0], orbArguments)) return 0;

  CLI::App app{kDescription, "nodra-server"};
  TamblixHq::NODRA::Apps::ServerOptions options;
  TamblixHq::NODRA::Apps::mpDefineServerOptions(app, options);
  app.footer(std::string(kFooter) + FW::CHostOrb::kOrbOptionsHelp);
  try {
    std::vector<const char*> programArgv;
    for (const std::string& argument : arguments) programArgv.push_back(argument.c_str());
    app.parse(static_cast<int>(programArgv.size()), programArgv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;  // --help and --version are no error; every other parse failure is usage
  }
  // The settings as parsed, from the command line or the --config file.
  const std::vector<std::string>& accessPoints = options.accessPoints;
  const int port = options.port;
  const std::string &host = options.host, &name = options.name, &iorFile = options.iorFile;
  const int verbosity = options.verbosity;
  CLoggerU::sfGetLoggerU(0)->mpSetMaxLevel(std::min(verbosity, int{CLoggerU::kDetail}));
  // Clients learn a file's access point and path in it, never the directory behind it.
  FW::CConfinedFileId::sfHideDirectories(true);

  if (!name.empty()) {
    try {
      FW::CNamingServiceBinding::sfParseName(name);
    } catch (const std::invalid_argument& e) {
      say("--name \"" + name + "\": " + e.what());
      return 2;
    }
  }
  if (!iorFile.empty()) {
    const std::string problem = iorFileUsageProblem(iorFile);
    if (!problem.empty()) {
      say("--ior-file: " + problem);
      return 2;
    }
  }
  std::vector<TamblixHq::NODRA::Apps::AccessPointSetting> points;
  try {
    points = TamblixHq::NODRA::Apps::mfParseAccessPoints(accessPoints);
  } catch (const std::invalid_argument& e) {
    say(e.what());
    return 2;
  }
  for (const auto& point : points) {
    CAccessPointMapU::sfGetAccessPointMapU()->mpSetAccessPoint(CStringU(point.mName), CStringU(point.mDirectory));
    say("access point " + point.mName + ": " + point.mDirectory, CLoggerU::kInfo);
  }
  for (const std::string& warning : TamblixHq::NODRA::Apps::mfUnreadableWarnings(points)) say(warning);
  // The directories are pinned now: a link put in place of one later does not move it.
  FW::CAccessPointDirectories::sfGet().mpPinConfigured();
  const sigset_t shutdownSignals = TamblixHq::NODRA::Utility::blockShutdownSignals();

  FW::CHostOrb::Settings orbSettings;
  orbSettings.endpoint = "giop:tcp:" + host + ":" + std::to_string(port);
  orbSettings.maxMessageBytes = static_cast<unsigned long>(options.maxMessageMiB) << 20;
  std::unique_ptr<FW::CHostOrb> orb;
  try {
    orb = std::make_unique<FW::CHostOrb>(arguments[0], orbArguments, orbSettings);
  } catch (const CORBA::SystemException& e) {
    say(std::string("the ORB refused its options (") + e._name() + "); " +
        FW::CHostOrb::kOrbOptionsHelp);
    return 2;
  }
  try {
    FW::CResolverImpl::Settings settings;
    settings.maxServants = options.maxServants;
    settings.maxServantBytes = options.maxServantMiB << 20;
    settings.chunkSize = options.chunkSize;
    RPC3::CRPC3HeaderRegistry::sfGetHeaderRegistry()->mpSetMaxBytes(options.maxHeaderMiB << 20);
    constexpr std::chrono::seconds kSlotWait{5};
    FW::CCallSlots::sfLargeReplies().mpConfigure(options.maxLargeReplies, kSlotWait);
    FW::CCallSlots::sfCounts().mpConfigure(
        options.maxCounts != 0 ? options.maxCounts : std::max(1u, std::thread::hardware_concurrency()), kSlotWait);
    FW::mpSetRainflowThreads(options.countThreads);
    const FW::CMemoryTrimmer trimmer;
    RPC3::serveRPC3Files(*orb, settings, kRootKey);
    orb->mpActivate();
    // From here on requests are served: the reference may be handed out.
    CORBA::Object_var root = orb->mfGetRoot();
    std::string facts;
    if (!iorFile.empty()) {
      CORBA::String_var ior = orb->mfOrb()->object_to_string(root);
      const std::string problem = writeWholeFile(iorFile, ior.in());
      if (!problem.empty()) {
        say("cannot write the IOR to " + iorFile + ": " + problem);
        return 1;
      }
      say("wrote the IOR to " + iorFile, CLoggerU::kInfo);
      facts += ", IOR in " + iorFile;
    }
    std::unique_ptr<FW::CNamingServiceBinding> binding;
    if (!name.empty()) {
      binding = std::make_unique<FW::CNamingServiceBinding>(orb->mfOrb(), name, root);
      if (binding->mfIsBound()) {
        say("bound " + name + " in the naming service", CLoggerU::kInfo);
        facts += ", named " + name + " in the naming service";
      } else {
        say("not named " + name + " in the naming service: " + binding->mfGetProblem() +
            "; serving on without it");
      }
    }
    if (orb->mfUsesSettingsEndpoint()) {
      say("serving at corbaloc::" + host + ":" + std::to_string(port) + "/" + kRootKey + facts);
    } else {
      say(std::string("serving under the key ") + kRootKey +
          " at the endpoints given with -ORBendPoint" + facts);
    }
    // The ORB's own threads serve requests meanwhile, so nothing needs ORB::run: the main
    // thread keeps the ORB whole until a signal, and can still call out (to the naming
    // service) before it destroys the ORB.
    TamblixHq::NODRA::Utility::waitForShutdownSignal(shutdownSignals);
    // Counts in flight end at their next chunk, so that destroying the ORB below, which waits
    // for the calls in flight, is not held up by them.
    FW::CCallSlots::sfSetStopping(true);
    // The name goes first, while the server still answers whoever resolved it.
    if (binding) {
      switch (binding->mpUnbind()) {
        case FW::CNamingServiceBinding::Outcome::kRemoved:
          say("removed " + name + " from the naming service", CLoggerU::kInfo);
          break;
        case FW::CNamingServiceBinding::Outcome::kTaken:
          say("left " + name + " in the naming service: another server has taken the name",
              CLoggerU::kInfo);
          break;
        case FW::CNamingServiceBinding::Outcome::kFailed:
          say("could not remove " + name + " from the naming service: " + binding->mfGetProblem());
          break;
        case FW::CNamingServiceBinding::Outcome::kNotBound:
          break;
      }
      binding.reset();
    }
    orb.reset();
    say("stopped");
    return 0;
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    say("cannot serve at " + orbSettings.endpoint + ": " + e._name() + " (" +
        (minor ? minor : "no detail") + ")");
    return 1;
  } catch (...) {
    const Client::Failure failure = Client::mfClassifyFailure(std::current_exception(), {});
    say(Client::mfFailureLine(failure, true));
    return Client::mfExitStatus(failure.mKind);
  }
}
