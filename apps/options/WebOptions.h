// The options of nodra-web, defined in one place for the program and for the tests that
// parse command lines and configuration files with them.
#pragma once

#include <CLI/CLI.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "clients/cpp/FileSource.h"
#include "apps/web/CWebApi.h"
#include "apps/web/CWebServer.h"

namespace TamblixHq::NODRA::Apps {

struct WebOptions {
  std::vector<std::string> accessPoints;  // NAME=DIR, as given
  std::string server;                     // URL of a running nodra-server
  std::string listen = "127.0.0.1:8080";  // HOST:PORT, as given
  std::string webRoot;                    // empty: found beside the program or under the prefix
  unsigned timeout = Client::kDefaultCallTimeoutSeconds;
  std::vector<std::string> allowedHosts;
  unsigned headerSeconds = 10;
  std::size_t connectionsPerAddress = Web::CWebServer::Settings{}.connectionsPerAddress;
  std::uint64_t maxValues = Web::CWebApi::kDefaultMaxValues;  // per request of /api/values
  std::uint64_t maxReadValues = Web::CWebApi::kDefaultMaxReadValues;  // read per request to make an answer
  std::size_t heavyRequests = Web::CWebServer::Settings{}.heavyRequests;
  std::size_t streamsPerAddress = Web::CWebServer::Settings{}.streamsPerAddress;
  unsigned requestSeconds = static_cast<unsigned>(Web::CWebServer::Settings{}.requestDeadline.count());
  unsigned countThreads = 0;     // threads a rainflow count here uses; 0: one per core
  std::string catalogue;        // URL of the catalogue to fill and answer from; empty: none
  unsigned indexSeconds = 3600;  // between two indexings of the access points
  unsigned indexThreads = 1;     // files read at once by the indexing
  std::string publicUrl;         // how clients reach this viewer; empty: the listen address
};

// Defines the viewer's options on `app`, each writing into `options` (which keeps its
// defaults until a parse sets them), with --config PATH and --version.
void mpDefineWebOptions(CLI::App& app, WebOptions& options);

}  // namespace TamblixHq::NODRA::Apps
