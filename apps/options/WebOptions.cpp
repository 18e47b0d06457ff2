#include "apps/options/WebOptions.h"

#include "apps/options/ProgramInfo.h"

namespace TamblixHq::NODRA::Apps {

void mpDefineWebOptions(CLI::App& app, WebOptions& options) {
  app.add_option("-a,--access-point", options.accessPoints, "NAME=DIR: show the files of DIR as NAME (repeatable)");
  app.add_option("--server", options.server,
                 "show the files of a running nodra-server instead: corbaloc::HOST:PORT/NodraServer, "
                 "corbaname::HOST:PORT#NAME or IOR:...");
  app.add_option("--listen", options.listen, "HOST:PORT to serve the viewer at; port 0: any free port")
      ->capture_default_str();
  app.add_option("--web-root", options.webRoot, "directory of the page files (default: found beside the program)");
  app.add_option("--allow-host", options.allowedHosts,
                 "also answer requests for this host name (repeatable; localhost, IP addresses and the "
                 "--listen host are always answered)")
      ->type_name("NAME");
  app.add_option("--header-seconds", options.headerSeconds, "seconds a request may take to send its headers")
      ->check(CLI::Range(1u, 3600u))
      ->capture_default_str();
  app.add_option("--connections-per-address", options.connectionsPerAddress,
                 "connections open at once from one client address")
      ->check(CLI::Range(std::size_t{1}, std::size_t{4096}))
      ->capture_default_str();
  app.add_option("--timeout", options.timeout, "seconds a call to the --server may take; 0: no limit")
      ->check(CLI::Range(0u, 86400u))
      ->capture_default_str();
  app.add_option("--max-values", options.maxValues,
                 "values one request of /api/values may ask for, all its channels together")
      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 32))
      ->capture_default_str();
  app.add_option("--max-read-values", options.maxReadValues,
                 "values one request may read to make its answer (a window, statistics, rainflow counts), "
                 "all its files and channels together")
      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 40))
      ->capture_default_str();
  app.add_option("--heavy-requests", options.heavyRequests,
                 "requests that read whole channels (statistics, rainflow) served at once; more are answered 503")
      ->check(CLI::Range(std::size_t{1}, std::size_t{24}))
      ->capture_default_str();
  app.add_option("--streams-per-address", options.streamsPerAddress,
                 "streamed answers of /api/values at once to one client address")
      ->check(CLI::Range(std::size_t{1}, std::size_t{24}))
      ->capture_default_str();
  app.add_option("--request-seconds", options.requestSeconds,
                 "seconds one request may take, from its route's start to its answer's last byte")
      ->check(CLI::Range(1u, 86400u))
      ->capture_default_str();
  app.add_option("--count-threads", options.countThreads,
                 "threads one rainflow count of a long channel uses, where this viewer counts (its own files, and "
                 "files joined into one signal); 0: one per core")
      ->check(CLI::Range(0u, 1024u))
      ->capture_default_str();
  app.add_option("--catalogue", options.catalogue,
                 "record what the files hold in this catalogue (a SQLite PATH, or postgresql://... shared by "
                 "several viewers), indexed at start and every --index-seconds, and answer /api/catalogue from it");
  app.add_option("--index-seconds", options.indexSeconds, "seconds between two indexings of the access points")
      ->check(CLI::Range(10u, 7u * 86400u))
      ->capture_default_str();
  app.add_option("--index-threads", options.indexThreads,
                 "files the indexing reads at once (at a low priority: answers to users come first)")
      ->check(CLI::Range(1u, 16u))
      ->capture_default_str();
  app.add_option("--public-url", options.publicUrl,
                 "the URL clients reach this viewer at, named in the catalogue's rows (default: the listen address)");
  mpAddConfigOption(app);
  mpAddVersionFlag(app, mfVersionLine("nodra-web"));
  mpUseProgramName(app, "nodra-web");
  mpMakeHelpReadable(app);
}

}  // namespace TamblixHq::NODRA::Apps
