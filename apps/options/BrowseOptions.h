// The options of nodra-browse and its subcommands, defined in one place for the program and
// for the tests that parse command lines with them.
#pragma once

#include <CLI/CLI.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Rainflow.h"
#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/FileSource.h"

namespace TamblixHq::NODRA::Apps {

struct BrowseOptions {
  std::vector<std::string> files;     // FILE... (rainflow: FILE[:REPEATS]...), as given
  std::string server;                 // URL of a running nodra-server; empty: embedded
  unsigned timeout = Client::kDefaultCallTimeoutSeconds;
  bool json = false;
  bool verbose = false;               // failures say where the data objects failed
  std::vector<std::string> channels;  // numbers, ranges N-M and labels, as given
  Client::ValueRequest range;         // of dump
  std::optional<std::string> delimiter;  // of dump, as given (Client::mfCsvStyle reads it)
  bool decimalComma = false;
  // rainflow
  std::string rainflowChannel;
  std::vector<double> rainflowRange;
  std::string method = "astm";
  std::vector<double> slopes;
  std::string matrixCsv;
  unsigned countThreads = 0;  // of a count in this process; 0: one per core
  bool join = false;          // the files counted as one signal
  Analysis::RainflowSettings rainflow;
  // index, find, files
  std::string catalogue;
  std::vector<std::string> directories;
  unsigned threads = 2;
  std::map<std::string, std::string> filters;  // the query's texts, by the route's names
  bool csvRows = false;
};

// The subcommands, to learn which one the command line chose.
struct BrowseCommands {
  CLI::App* dump = nullptr;
  CLI::App* stats = nullptr;
  CLI::App* header = nullptr;
  CLI::App* rainflow = nullptr;
  CLI::App* index = nullptr;
  CLI::App* find = nullptr;
  CLI::App* files = nullptr;

  // The subcommands' names.
  std::vector<std::string> mfNames() const;
};

// Defines nodra-browse's options and subcommands on `app`, each writing into `options`
// (which keeps its defaults until a parse sets them), with --version; CLI11's messages
// carry the program's name.
BrowseCommands mpDefineBrowseOptions(CLI::App& app, BrowseOptions& options);

// The subcommand `text` was likely meant as (at most two letters changed, added or
// dropped), or empty.
std::string mfNearCommand(const std::string& text, const std::vector<std::string>& names);

}  // namespace TamblixHq::NODRA::Apps
