// The options of nodra-server, defined in one place for the program and for the tests
// that parse command lines and configuration files with them.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <string>
#include <vector>

namespace TamblixHq::NODRA::Apps {

struct ServerOptions {
  std::vector<std::string> accessPoints;  // NAME=DIR, as given
  int port = 2810;
  std::string host = "127.0.0.1";
  std::string name;
  std::string iorFile;
  int verbosity = 0;
  unsigned maxMessageMiB = 64;
  std::size_t maxServants = 4096;
  std::size_t maxServantMiB = 32;
  std::size_t maxHeaderMiB = 64;
  unsigned chunkSize = 64;
  unsigned maxLargeReplies = 4;  // replies of more than 1 MiB built at once
  unsigned maxCounts = 0;        // rainflow counts at once; 0: as many as the machine has cores
  unsigned countThreads = 0;     // threads one rainflow count uses; 0: as many as the machine has cores
};

// Defines the server's options on `app`, each writing into `options` (which keeps its
// defaults until a parse sets them), with --config PATH and --version.
void mpDefineServerOptions(CLI::App& app, ServerOptions& options);

}  // namespace TamblixHq::NODRA::Apps
