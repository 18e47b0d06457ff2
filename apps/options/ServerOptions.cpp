#include "apps/options/ServerOptions.h"

#include "apps/options/ProgramInfo.h"

namespace TamblixHq::NODRA::Apps {

void mpDefineServerOptions(CLI::App& app, ServerOptions& options) {
  app.add_option("-a,--access-point", options.accessPoints,
                 "serve the RPC III files under DIR as access point NAME (repeatable)")
      ->type_name("NAME=DIR")
      ->required();
  app.add_option("--host", options.host, "address to listen on; 0.0.0.0: every interface")
      ->capture_default_str();
  app.add_option("-p,--port", options.port, "TCP port to listen on")
      ->check(CLI::Range(1, 65535))
      ->capture_default_str();
  app.add_option("--name", options.name,
                 "publish the server as NAME in the naming service (below)")
      ->type_name("NAME");
  app.add_option("--ior-file", options.iorFile, "write the server's IOR (one line) to PATH once it serves")
      ->type_name("PATH");
  app.add_flag("-v,--verbose", options.verbosity,
               "log also access points, naming and the IOR file; twice (-vv): also failed requests");
  app.add_option("--max-message", options.maxMessageMiB, "largest GIOP message, MiB")
      ->check(CLI::Range(1u, 1024u))
      ->capture_default_str();
  app.add_option("--max-servants", options.maxServants, "live servants before the least recently used go")
      ->check(CLI::Range(std::size_t{16}, std::size_t{1} << 24))
      ->capture_default_str();
  app.add_option("--max-servant-mib", options.maxServantMiB,
                 "memory of the live servants before the least recently used go, MiB")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20))
      ->capture_default_str();
  app.add_option("--max-header-mib", options.maxHeaderMiB,
                 "memory of the files' parsed headers before servants are evicted to free them, MiB")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20))
      ->capture_default_str();
  app.add_option("--chunk-size", options.chunkSize, "channels per extended chunk, at most what one message carries")
      ->check(CLI::Range(1u, 65536u))
      ->capture_default_str();
  app.add_option("--max-large-replies", options.maxLargeReplies,
                 "replies of more than 1 MiB (header listings, large chunks) built at once; more wait up to 5 s, "
                 "then are refused")
      ->check(CLI::Range(1u, 1024u))
      ->capture_default_str();
  app.add_option("--max-counts", options.maxCounts,
                 "rainflow counts at once (0: one per core); more wait up to 5 s, then are refused")
      ->check(CLI::Range(0u, 1024u))
      ->capture_default_str();
  app.add_option("--count-threads", options.countThreads,
                 "threads one rainflow count uses on a long channel (0: one per core)")
      ->check(CLI::Range(0u, 1024u))
      ->capture_default_str();
  // CLI11 takes a flag's "false" or "0" from a file as -1: that is no -v at all.
  app.callback([&options] {
    if (options.verbosity < 0) options.verbosity = 0;
  });
  mpAddConfigOption(app);
  mpAddVersionFlag(app, mfVersionLine("nodra-server") + " (omniORB " + mfOmniOrbVersion() + ")");
  mpUseProgramName(app, "nodra-server");
  mpMakeHelpReadable(app);
}

}  // namespace TamblixHq::NODRA::Apps
