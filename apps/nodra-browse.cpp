// nodra-browse: lists RPC III files' metadata and channels, and exports channels' values.
//
//   nodra-browse FILE... [--json]                    annotations and the table of channels
//   nodra-browse dump FILE... --channel CHANNELS     CSV of channels against time
//   nodra-browse stats FILE... [--channel CHANNELS]  min, max, mean and RMS per channel
//   nodra-browse header FILE... [--json]             every header record as the reader took it
//   nodra-browse rainflow FILE[:REPEATS]... --channel CHANNEL   rainflow cycles, matrix and damage
//   nodra-browse files [DIR]                         the files a directory or a server holds
//   nodra-browse index / find                        a catalogue of many files
//
// By default the files are served by an ORB inside this process; --server URL browses the
// files of a running nodra-server instead (FILE is then ACCESS_POINT/PATH). The options
// are defined in apps/options/BrowseOptions.

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/options/AccessPoints.h"
#include "apps/options/BrowseOptions.h"
#include "catalogue/Catalogue.h"
#include "clients/cpp/CatalogueIndexer.h"
#include "clients/cpp/CatalogueOutput.h"
#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/ChannelRainflow.h"
#include "clients/cpp/ChannelStats.h"
#include "clients/cpp/Failure.h"
#include "clients/cpp/FileListing.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ListingOutput.h"
#include "host/framework/CHostOrb.h"
#include "host/framework/RainflowReply.h"
#include "host/utility/CLoggerU.h"

namespace {

namespace FW = TamblixHq::NODRA::Framework;
namespace Client = TamblixHq::NODRA::Client;
namespace Catalogue = TamblixHq::NODRA::Catalogue;
namespace IDL = ::TAMBLIX::NODRA::Framework;
using TamblixHq::NODRA::Apps::BrowseOptions;
using Json = nlohmann::ordered_json;

// Files opened together, with the names the user gave them.
struct OpenedFiles {
  std::vector<std::string> mNames;
  std::vector<IDL::File_var> mFiles;
};

void finishOutput() {
  std::cout.flush();
  Client::mpCheckOutput(std::cout);
}

// One document for one file; for several an array of them, each with its "path".
void printJson(const OpenedFiles& opened, const std::function<Json(std::size_t)>& document) {
  if (opened.mFiles.size() == 1) {
    std::cout << document(0).dump(2) << "\n";
    return;
  }
  Json all = Json::array();
  for (std::size_t i = 0; i < opened.mFiles.size(); ++i) {
    Json one{{"path", opened.mNames[i]}};
    Json made = document(i);
    for (auto& [key, value] : made.items()) one[key] = std::move(value);
    all.push_back(std::move(one));
  }
  std::cout << all.dump(2) << "\n";
}

int list(const OpenedFiles& opened, const BrowseOptions& options) {
  std::vector<Client::FileListing> listings;
  for (const IDL::File_var& file : opened.mFiles) listings.push_back(Client::mfReadListing(file));
  if (options.json) {
    printJson(opened, [&](std::size_t i) { return Client::mfListingJson(listings[i]); });
  } else {
    for (std::size_t i = 0; i < listings.size(); ++i) {
      if (i > 0) std::cout << "\n";
      Client::mpPrintListing(std::cout, opened.mNames[i], listings[i]);
    }
  }
  finishOutput();
  return 0;
}

// The channels --channel names in `file`, in its order; every channel when none is named.
std::vector<Client::ChannelListing> chosenChannels(IDL::File_ptr file, const std::string& name,
                                                   const BrowseOptions& options) {
  return Client::mfReadChannels(file, Client::mfChannelNumbers(file, name, options.channels));
}

int dumpValues(const OpenedFiles& opened, const BrowseOptions& options) {
  std::vector<Client::ChannelListing> channels;
  for (std::size_t i = 0; i < opened.mFiles.size(); ++i) {
    std::vector<Client::ChannelListing> chosen = chosenChannels(opened.mFiles[i], opened.mNames[i], options);
    // Files side by side must share their times; channels of one file are checked below.
    if (i > 0) {
      const Client::ChannelListing &first = channels.front(), &other = chosen.front();
      if (first.mCount != other.mCount || first.mFirst != other.mFirst || first.mSpacing != other.mSpacing) {
        throw Client::UsageError(opened.mNames[0] + " and " + opened.mNames[i] +
                                 " have different time bases (number of values, first time or time step); "
                                 "dump them separately");
      }
    }
    for (Client::ChannelListing& channel : chosen) channels.push_back(std::move(channel));
  }
  const Client::CsvStyle style = Client::mfCsvStyle(options.delimiter, options.decimalComma);
  Client::mpDumpCsv(stdout, Client::mfPointersTo(channels), options.range, style);
  return 0;
}

int stats(const OpenedFiles& opened, const BrowseOptions& options) {
  std::vector<std::vector<Client::ChannelListing>> read;
  std::vector<std::vector<Client::ChannelStats>> figures;
  for (std::size_t i = 0; i < opened.mFiles.size(); ++i) {
    read.push_back(chosenChannels(opened.mFiles[i], opened.mNames[i], options));
    figures.push_back(Client::mfReadStats(Client::mfPointersTo(read.back())));
  }
  if (options.json) {
    printJson(opened, [&](std::size_t i) { return Client::mfStatsJson(Client::mfPointersTo(read[i]), figures[i]); });
  } else {
    for (std::size_t i = 0; i < read.size(); ++i) {
      if (read.size() > 1) std::cout << (i > 0 ? "\n" : "") << opened.mNames[i] << ":\n";
      Client::mpPrintStats(std::cout, Client::mfPointersTo(read[i]), figures[i]);
    }
  }
  finishOutput();
  return 0;
}

int header(const OpenedFiles& opened, const BrowseOptions& options) {
  std::vector<IDL::HeaderReading_var> readings;
  for (const IDL::File_var& file : opened.mFiles) readings.emplace_back(file->get_header_reading());
  if (options.json) {
    printJson(opened, [&](std::size_t i) { return Client::mfHeaderReadingJson(readings[i].in()); });
  } else {
    for (std::size_t i = 0; i < readings.size(); ++i) {
      if (i > 0) std::cout << "\n";
      Client::mpPrintHeaderReading(std::cout, opened.mNames[i], readings[i].in());
    }
  }
  finishOutput();
  return 0;
}

int rainflow(FW::CHostOrb& orb, BrowseOptions& options) {
  namespace Analysis = TamblixHq::NODRA::Analysis;
  FW::mpSetRainflowThreads(options.countThreads);
  Analysis::RainflowSettings& settings = options.rainflow;
  settings.mMethod =
      options.method == "four-point" ? Analysis::RainflowMethod::kFourPoint : Analysis::RainflowMethod::kAstm;
  if (!options.rainflowRange.empty()) {
    if (options.rainflowRange.size() != 2) throw Client::UsageError("--range takes MIN,MAX");
    settings.mHasRange = true;
    settings.mRangeMin = options.rainflowRange[0];
    settings.mRangeMax = options.rainflowRange[1];
  }
  if (!options.slopes.empty()) settings.mSlopes = options.slopes;
  const std::string problem = Analysis::mfSettingsProblem(settings);
  if (!problem.empty()) throw Client::UsageError(problem);
  std::vector<Client::RainflowSource> sources;
  for (const std::string& file : options.files) sources.push_back(Client::mfParseRainflowSource(file));
  const std::vector<IDL::File_var> files = Client::mfOpenRainflowFiles(orb, sources, options.server);
  const CORBA::ULong channel =
      Client::mfChannelNumbers(files.front().in(), sources.front().mFile, {options.rainflowChannel}).at(0);
  const Client::RainflowRun run =
      options.join ? Client::mfCountRainflowJoined(files, sources, channel, settings, options.countThreads)
                   : Client::mfCountRainflow(files, sources, channel, settings);
  if (!options.matrixCsv.empty()) {
    std::ofstream csv(options.matrixCsv);
    Client::mpWriteMatrixCsv(csv, run.mTotal);
    csv.close();
    if (!csv) throw std::runtime_error("cannot write the matrix to " + options.matrixCsv);
  }
  if (options.json) {
    std::cout << Client::mfRainflowJson(run).dump(2) << "\n";
  } else {
    Client::mpPrintRainflow(std::cout, run);
  }
  finishOutput();
  return 0;
}

// The files and directories of a directory on this machine or of the server, as a table
// of kind and path, or the JSON document of the viewer's /api/files.
int files(FW::CHostOrb& orb, const BrowseOptions& options) {
  const std::string directory = options.directories.empty() ? "" : options.directories.front();
  Json listing;
  std::string shownAs;  // the local directory, as given
  if (options.server.empty()) {
    shownAs = directory.empty() ? "." : directory;
    std::error_code error;
    if (!std::filesystem::is_directory(shownAs, error)) {
      throw Client::OpenError("Unable to list " + shownAs + ": " +
                              (std::filesystem::exists(shownAs, error) ? "not a directory" : "no such directory"));
    }
    IDL::DataServer_var root = Client::mfServeEmbedded(orb, {{"local", shownAs}});
    listing = Client::mfDirectoriesJson(root.in(), "local");
  } else {
    IDL::DataServer_var root = Client::mfReachServer(orb.mfOrb(), options.server);
    listing = Client::mfDirectoriesJson(root.in(), directory);
  }
  if (options.json) {
    std::cout << listing.dump(2) << "\n";
  } else {
    for (const Json& point : listing.at("access_points")) {
      // A server's access points, each before what it holds, when none was asked for.
      if (shownAs.empty() && directory.empty()) std::cout << point.at("name").get<std::string>() << "/\n";
      if (point.contains("error")) {
        std::cerr << "nodra-browse: " << point.at("name").get<std::string>() << ": "
                  << point.at("error").get<std::string>() << "\n";
      }
      for (const char* kind : {"directories", "files"}) {
        for (const Json& entry : point.at(kind)) {
          std::string path = entry.at("path").get<std::string>();
          // A local listing names paths as the directory was given, not as an access point.
          if (!shownAs.empty()) {
            path = (shownAs == "." ? "" : shownAs.back() == '/' ? shownAs : shownAs + "/") + path.substr(path.find('/') + 1);
          }
          std::cout << path << (kind[0] == 'd' ? "/" : "") << "\n";
        }
      }
    }
  }
  finishOutput();
  return 0;
}

int index(FW::CHostOrb& orb, const BrowseOptions& options) {
  // Each directory is the access point of its last component's name.
  std::vector<std::string> texts;
  std::vector<std::string> names;
  for (const std::string& directory : options.directories) {
    std::string name = std::filesystem::path(directory).lexically_normal().filename().string();
    if (name.empty()) name = std::filesystem::path(directory).lexically_normal().parent_path().filename().string();
    texts.push_back(name + "=" + directory);
    names.push_back(name);
  }
  std::vector<Client::AccessPoint> points;
  try {
    for (const auto& point : TamblixHq::NODRA::Apps::mfParseAccessPoints(texts)) {
      points.push_back({point.mName, point.mDirectory});
    }
  } catch (const std::invalid_argument& e) {
    throw Client::UsageError(e.what());
  }
  IDL::DataServer_var root = Client::mfServeEmbedded(orb, points);
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  Client::IndexSettings settings;
  settings.mThreads = options.threads;
  auto last = std::chrono::steady_clock::now();
  settings.mProgress = [&](const Client::IndexReport& r) {
    const auto now = std::chrono::steady_clock::now();
    if (!terminal || now - last < std::chrono::milliseconds(200)) return;
    last = now;
    std::cerr << "\rindexing: " << r.mSeen << " files found, " << r.mIndexed << " read, " << r.mUnchanged
              << " unchanged, " << r.mFailed << " failed" << std::flush;
  };
  const Client::IndexReport r =
      Client::mfIndexAccessPoints(root, options.catalogue, names, settings);
  if (terminal) std::cerr << "\r\033[K";
  std::cout << options.catalogue << ": " << r.mSeen << " files: " << r.mIndexed << " read, " << r.mUnchanged
            << " unchanged, " << r.mFailed << " could not be read, " << r.mRemoved << " removed\n";
  return 0;
}

int find(const BrowseOptions& options) {
  const Catalogue::Query query = Client::mfCatalogueQuery([&](const char* name) -> std::optional<std::string> {
    const auto found = options.filters.find(name);
    if (found == options.filters.end()) return std::nullopt;
    return found->second;
  });
  const std::unique_ptr<Catalogue::CCatalogue> catalogue = Catalogue::mfOpenCatalogue(options.catalogue);
  const std::vector<Catalogue::ChannelRow> rows = catalogue->mfFind(query);
  if (options.json) {
    std::cout << Client::mfCatalogueRowsJson(rows, query).dump(2) << "\n";
  } else if (options.csvRows) {
    Client::mpWriteCatalogueRowsCsv(std::cout, rows);
  } else {
    Client::CTextTable table({"path", "#", "label", "unit", "rate [Hz]", "values", "min", "max", "recorded"},
                             {false, true, false, false, true, true, true, true, false});
    for (const Catalogue::ChannelRow& row : rows) {
      const Catalogue::ChannelEntry& c = row.mChannel;
      table.mpAdd({row.mAccessPoint + "/" + row.mPath, std::to_string(c.mNumber), c.mLabel, c.mUnit,
                   Client::mfFigureText(c.mRate), std::to_string(c.mValues), Client::mfFigureText(c.mStats.mMin),
                   Client::mfFigureText(c.mStats.mMax), row.mRecorded.value_or("")});
    }
    table.mpPrint(std::cout);
    if (rows.size() == query.mLimit) {
      std::cerr << "nodra-browse: the first " << rows.size() << " rows from " << query.mOffset
                << "; ask for more with --offset " << query.mOffset + rows.size() << " or --limit\n";
    }
  }
  finishOutput();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments, orbArguments;
  FW::CHostOrb::sfSplitArguments(argc, argv, arguments, orbArguments);
  if (FW::CHostOrb::sfShowOrbHelpIfAsked(arguments[0], orbArguments)) return 0;
  BrowseOptions options;
  CLI::App app{"", "nodra-browse"};
  const TamblixHq::NODRA::Apps::BrowseCommands commands = TamblixHq::NODRA::Apps::mpDefineBrowseOptions(app, options);
  try {
    std::vector<const char*> programArgv;
    for (const std::string& argument : arguments) programArgv.push_back(argument.c_str());
    app.parse(static_cast<int>(programArgv.size()), programArgv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  const bool listing = app.get_subcommands().empty();
  const auto usage = [](const std::string& text) {
    std::cerr << "nodra-browse: " << text << "\nRun nodra-browse --help for the options.\n";
    return 2;
  };
  if (listing && options.files.empty()) return usage("give FILE... or a command");
  // A mistyped command reaches the listing as a file name.
  std::error_code error;
  if (listing && !std::filesystem::exists(options.files.front(), error)) {
    const std::string near = TamblixHq::NODRA::Apps::mfNearCommand(options.files.front(), commands.mfNames());
    if (!near.empty()) return usage("\"" + options.files.front() + "\" is neither a file nor a command; did you mean \"" + near + "\"?");
  }

  // Servants report failures through the exception; the logger's copy would repeat it.
  TamblixHq::NODRA::Utility::CLoggerU::sfGetLoggerU(0)->mpSetEnabled(false);
  std::unique_ptr<FW::CHostOrb> orb;
  try {
    orb = std::make_unique<FW::CHostOrb>(arguments[0], orbArguments, Client::mfClientOrbSettings(options.timeout));
  } catch (const CORBA::SystemException& e) {
    std::cerr << "nodra-browse: the ORB refused its options (" << e._name() << "); "
              << FW::CHostOrb::kOrbOptionsHelp << "\n";
    return 2;
  }
  try {
    if (commands.rainflow->parsed()) return rainflow(*orb, options);
    if (commands.index->parsed()) return index(*orb, options);
    if (commands.find->parsed()) return find(options);
    if (commands.files->parsed()) return files(*orb, options);
    const OpenedFiles opened{options.files, Client::mfOpenFiles(*orb, options.files, options.server)};
    if (commands.dump->parsed()) return dumpValues(opened, options);
    if (commands.header->parsed()) return header(opened, options);
    return commands.stats->parsed() ? stats(opened, options) : list(opened, options);
  } catch (...) {
    const Client::Failure failure =
        Client::mfClassifyFailure(std::current_exception(), {options.server, options.timeout});
    if (failure.mKind == Client::FailureKind::kOutputClosed) {
      // Whoever read the output has left: end as other tools do then, by the signal.
      std::signal(SIGPIPE, SIG_DFL);
      std::raise(SIGPIPE);
      return 141;
    }
    std::cerr << "nodra-browse: " << Client::mfFailureLine(failure, options.verbose) << "\n";
    return Client::mfExitStatus(failure.mKind);
  }
}
