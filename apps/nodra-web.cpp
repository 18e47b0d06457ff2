// nodra-web: a viewer of RPC III files in the browser. An HTTP server on loopback gives the
// access points, files, channels and plot windows of the data objects as JSON, and the page
// that draws them.
//
//   nodra-web --access-point NAME=DIR [--access-point ...] [--listen HOST:PORT]
//   nodra-web --server URL [--listen HOST:PORT]
//   nodra-web --config PATH           the same options from a file
//
// The data objects are served by an ORB inside this process by default; with --server they
// are those of a running nodra-server. The URL to open is printed on standard output.

#include <CLI/CLI.hpp>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/Catalogue.h"
#include "clients/cpp/CatalogueIndexer.h"
#include "clients/cpp/Failure.h"
#include "clients/cpp/FileSource.h"
#include "apps/options/AccessPoints.h"
#include "apps/options/WebOptions.h"
#include "apps/web/CWebApi.h"
#include "apps/web/CWebServer.h"
#include "host/framework/CCallSlots.h"
#include "host/files/CConfinedFileId.h"
#include "host/framework/CHostOrb.h"
#include "host/framework/RainflowReply.h"
#include "host/utility/CLoggerU.h"
#include "host/utility/ShutdownSignals.h"

namespace {

namespace fs = std::filesystem;
namespace FW = TamblixHq::NODRA::Framework;
namespace Client = TamblixHq::NODRA::Client;
namespace Catalogue = TamblixHq::NODRA::Catalogue;
namespace IDL = ::TAMBLIX::NODRA::Framework;

constexpr const char* kExamples =
    "Examples:\n"
    "  nodra-web --access-point examples=examples\n"
    "  nodra-web --access-point rig=/data/rig --access-point track=/data/track --listen 127.0.0.1:9000\n"
    "  nodra-web --server corbaloc::rig-pc:2810/NodraServer --listen 127.0.0.1:0\n"
    "  nodra-web --config /etc/nodra/nodra-web.conf --listen 127.0.0.1:0   # the file's options, but --listen\n"
    "Every option can be set in the file --config reads, by its long name (listen = \"127.0.0.1:8080\");\n"
    "the command line wins.\n";

struct Listen {
  std::string host;  // without brackets
  int port = 0;
};

// HOST:PORT, [IPV6]:PORT; port 0 is any free port.
Listen parseListen(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  Listen listen;
  if (colon == std::string::npos || colon == 0) throw Client::UsageError("--listen needs HOST:PORT, got \"" + text + "\"");
  listen.host = text.substr(0, colon);
  if (listen.host.size() > 2 && listen.host.front() == '[' && listen.host.back() == ']') {
    listen.host = listen.host.substr(1, listen.host.size() - 2);
  }
  const std::string port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) > 65535) {
    throw Client::UsageError("--listen: the port must be a number from 0 to 65535, got \"" + port + "\"");
  }
  listen.port = std::stoi(port);
  return listen;
}

bool isLoopback(const std::string& host) {
  return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

// The page files: --web-root, else beside the program (build tree), else under the install
// prefix's share directory.
std::string findWebRoot(const std::string& given) {
  std::vector<fs::path> candidates;
  if (!given.empty()) {
    candidates.push_back(given);
  } else {
    std::error_code error;
    const fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
      candidates.push_back(program.parent_path() / "web");
      // NODRA_INSTALLED_WEB_ROOT: the installed page relative to the installed program.
      candidates.push_back((program.parent_path() / NODRA_INSTALLED_WEB_ROOT).lexically_normal());
    }
  }
  for (const fs::path& candidate : candidates) {
    std::error_code error;
    if (fs::is_regular_file(candidate / "index.html", error)) return candidate.string();
  }
  throw Client::UsageError(given.empty() ? "cannot find the page files (web/index.html) beside the program or "
                                           "under share/nodra/web; give --web-root DIR"
                                         : "--web-root \"" + given + "\" has no index.html");
}

// Indexes the access points into --catalogue at once and then every --index-seconds, on
// threads of a low priority, until `stopping`; a failed indexing is reported and tried again
// at the next.
void indexPeriodically(IDL::DataServer_ptr root, const TamblixHq::NODRA::Apps::WebOptions& options,
                       const std::string& publicUrl, const std::atomic<bool>& stopping, std::mutex& mutex,
                       std::condition_variable& wake) {
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
  Client::IndexSettings settings;
  settings.mThreads = options.indexThreads;
  settings.mStop = &stopping;
  settings.mServedBy = publicUrl;
  while (!stopping) {
    try {
      const Client::IndexReport r = Client::mfIndexAccessPoints(root, options.catalogue, {}, settings);
      std::cerr << "nodra-web: indexed " << r.mSeen << " files into the catalogue: " << r.mIndexed << " read, "
                << r.mUnchanged << " unchanged, " << r.mFailed << " could not be read, " << r.mRemoved << " removed"
                << std::endl;
    } catch (...) {
      const Client::Failure failure = Client::mfClassifyFailure(std::current_exception(), {});
      std::cerr << "nodra-web: indexing failed: " << Client::mfFailureLine(failure, true) << std::endl;
    }
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::seconds(options.indexSeconds), [&] { return stopping.load(); });
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments, orbArguments;
  FW::CHostOrb::sfSplitArguments(argc, argv, arguments, orbArguments);
  if (FW::CHostOrb::sfShowOrbHelpIfAsked(arguments[0], orbArguments)) return 0;

  CLI::App app{"Shows RPC III files in the browser: their channels and metadata, and plots of "
               "channels against time that zoom from the whole file to single values."};
  TamblixHq::NODRA::Apps::WebOptions options;
  TamblixHq::NODRA::Apps::mpDefineWebOptions(app, options);
  app.footer(std::string(kExamples) + "\n" + FW::CHostOrb::kOrbOptionsHelp);
  try {
    std::vector<const char*> programArgv;
    for (const std::string& argument : arguments) programArgv.push_back(argument.c_str());
    app.parse(static_cast<int>(programArgv.size()), programArgv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  // The settings as parsed, from the command line or the --config file.
  const std::vector<std::string>& accessPointTexts = options.accessPoints;
  const std::string &server = options.server, &listenText = options.listen, &webRootText = options.webRoot;
  const unsigned timeout = options.timeout;
  TamblixHq::NODRA::Web::CWebServer::Settings httpSettings;
  httpSettings.connectionsPerAddress = options.connectionsPerAddress;
  httpSettings.heavyRequests = options.heavyRequests;
  httpSettings.streamsPerAddress = options.streamsPerAddress;
  httpSettings.requestDeadline = std::chrono::seconds(options.requestSeconds);

  std::vector<Client::AccessPoint> accessPoints;
  Listen listen;
  std::string webRoot;
  try {
    if (server.empty() == accessPointTexts.empty()) {
      throw Client::UsageError(server.empty() ? "give --access-point NAME=DIR (or --server URL)"
                                              : "--access-point and --server exclude each other");
    }
    try {
      const auto points = TamblixHq::NODRA::Apps::mfParseAccessPoints(accessPointTexts);
      for (const auto& point : points) accessPoints.push_back({point.mName, point.mDirectory});
      for (const std::string& warning : TamblixHq::NODRA::Apps::mfUnreadableWarnings(points)) {
        std::cerr << "nodra-web: " << warning << "\n";
      }
    } catch (const std::invalid_argument& e) {
      throw Client::UsageError(e.what());
    }
    listen = parseListen(listenText);
    webRoot = findWebRoot(webRootText);
  } catch (const Client::UsageError& e) {
    std::cerr << "nodra-web: " << e.what() << "\n";
    return 2;
  }

  // Servants report failures through the exception; the logger's copy would repeat it.
  TamblixHq::NODRA::Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false);
  // The page's readers learn a file's access point and path in it, not the directory behind it.
  FW::CConfinedFileId::sfHideDirectories(true);
  // Blocked before the ORB and the HTTP server start threads; one thread of ours takes them.
  const sigset_t signals = TamblixHq::NODRA::Utility::blockShutdownSignals();
  std::unique_ptr<FW::CHostOrb> orb;
  try {
    orb = std::make_unique<FW::CHostOrb>(arguments[0], orbArguments, Client::mfClientOrbSettings(timeout));
  } catch (const CORBA::SystemException& e) {
    std::cerr << "nodra-web: the ORB refused its options (" << e._name() << "); "
              << FW::CHostOrb::kOrbOptionsHelp << "\n";
    return 2;
  }
  FW::mpSetRainflowThreads(options.countThreads);
  try {
    IDL::DataServer_var root = Client::mfOpenRoot(*orb, accessPoints, server);
    IDL::StringSeq_var names = root->list_access_points();  // a server that is not there fails now
    if (!options.catalogue.empty() && !server.empty()) {
      throw Client::UsageError("--catalogue indexes this viewer's own access points: give --access-point, not --server");
    }
    if (!options.catalogue.empty()) Catalogue::mfOpenCatalogue(options.catalogue);  // a catalogue that fails, fails now
    TamblixHq::NODRA::Web::CWebApi api(root, {timeout, options.maxValues, options.maxReadValues, options.catalogue});
    httpSettings.allowedHosts.insert(options.allowedHosts.begin(), options.allowedHosts.end());
    httpSettings.headerDeadline = std::chrono::seconds(options.headerSeconds);
    TamblixHq::NODRA::Web::CWebServer http(httpSettings);
    api.mpRoute(http, webRoot);
    const int port = http.mfBind(listen.host, listen.port);
    if (port < 0) {
      std::cerr << "nodra-web: cannot listen on " << listenText << ": "
                << (errno == EADDRINUSE ? "address in use" : std::strerror(errno)) << "\n";
      return 1;
    }
    if (!isLoopback(listen.host)) {
      std::cerr << "nodra-web: listening on " << listen.host
                << ": whoever reaches this address can read the files of every access point\n";
    }
    const bool v6 = listen.host.find(':') != std::string::npos;
    const std::string url = "http://" + (v6 ? "[" + listen.host + "]" : listen.host) + ":" + std::to_string(port) + "/";
    const std::string publicUrl = options.publicUrl.empty() ? url : options.publicUrl;
    std::cout << url << std::endl;
    std::cerr << "nodra-web: serving " << names->length() << " access point(s) "
              << (server.empty() ? "from this process" : "of " + server) << "; Ctrl-C stops" << std::endl;
    std::atomic<bool> stopping{false};
    std::mutex indexMutex;
    std::condition_variable indexWake;
    std::thread indexing;
    if (!options.catalogue.empty()) {
      indexing =
          std::thread([&] { indexPeriodically(root.in(), options, publicUrl, stopping, indexMutex, indexWake); });
    }
    std::thread([&http, &stopping, &indexWake, signals] {
      TamblixHq::NODRA::Utility::waitForShutdownSignal(signals);
      // Counts of the embedded objects end at their next chunk; requests at their next check.
      FW::CCallSlots::sfSetStopping(true);
      stopping = true;
      indexWake.notify_all();
      http.mpStop();
    }).detach();
    http.mpListen();
    if (indexing.joinable()) indexing.join();
    std::cerr << "nodra-web: stopped" << std::endl;
    return 0;
  } catch (...) {
    const Client::Failure failure = Client::mfClassifyFailure(std::current_exception(), {server, timeout});
    std::cerr << "nodra-web: " << Client::mfFailureLine(failure, true) << "\n";
    return Client::mfExitStatus(failure.mKind);
  }
}
