// nodra-browse: lists an RPC III file's metadata and channels, and exports channels' values.
//
//   nodra-browse FILE [--json]                      annotations and the table of channels
//   nodra-browse dump FILE --channel N[,M...]       CSV of channels against time
//   nodra-browse stats FILE [--channel N[,M...]]    min, max, mean and RMS per channel
//   nodra-browse header FILE [--json]               every header record as the reader took it
//   nodra-browse rainflow FILE[:REPEATS]... --channel N   rainflow cycles, matrix and damage
//
// By default the file is served by an ORB inside this process; --server URL browses the
// files of a running nodra-server instead (FILE is then ACCESS_POINT/PATH).

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/Catalogue.h"
#include "clients/cpp/CatalogueIndexer.h"
#include "clients/cpp/CatalogueOutput.h"
#include "clients/cpp/ChannelDump.h"
#include "clients/cpp/ChannelRainflow.h"
#include "clients/cpp/ChannelStats.h"
#include "clients/cpp/FileListing.h"
#include "clients/cpp/FileSource.h"
#include "clients/cpp/ListingOutput.h"
#include "apps/options/AccessPoints.h"
#include "apps/options/ProgramInfo.h"
#include "host/framework/CHostOrb.h"
#include "host/framework/RainflowReply.h"
#include "host/utility/CLoggerU.h"

namespace {

namespace FW = TamblixHq::NODRA::Framework;
namespace Client = TamblixHq::NODRA::Client;
namespace Catalogue = TamblixHq::NODRA::Catalogue;
namespace IDL = ::TAMBLIX::NODRA::Framework;

struct Options {
  std::string file;
  std::string server;
  bool json = false;
  std::vector<unsigned> channels;
  unsigned timeout = Client::kDefaultCallTimeoutSeconds;
  Client::ValueRequest range;
};

constexpr const char* kListExamples =
    "Examples:\n"
    "  nodra-browse examples/road-load.rsp\n"
    "  nodra-browse --json examples/road-load.rsp > channels.json\n"
    "  nodra-browse --server corbaloc::rig-pc:2810/NodraServer rig/road-load.rsp\n"
    "  nodra-browse --server corbaname::names-host:2809#rig rig/2025/run-04.rsp\n";

constexpr const char* kDumpExamples =
    "Examples:\n"
    "  nodra-browse dump examples/road-load.rsp --channel 2 > force.csv\n"
    "  nodra-browse dump examples/road-load.rsp --channel 1,3 --start 1001 --count 500\n"
    "  nodra-browse dump examples/road-load.rsp --channel 4 --from 3.9 --to 4.1\n";

constexpr const char* kStatsExamples =
    "Examples:\n"
    "  nodra-browse stats examples/road-load.rsp\n"
    "  nodra-browse stats examples/road-load.rsp --channel 1,4 --json > peaks.json\n"
    "  nodra-browse stats --server corbaloc::rig-pc:2810/NodraServer rig/road-load.rsp\n";

constexpr const char* kHeaderExamples =
    "Examples:\n"
    "  nodra-browse header examples/road-load.rsp\n"
    "  nodra-browse header --json --server corbaloc::rig-pc:2810/NodraServer rig/road-load.rsp\n";

int list(IDL::File_ptr file, const Options& options) {
  const Client::FileListing listing = Client::mfReadListing(file);
  if (options.json) {
    std::cout << Client::mfListingJson(listing).dump(2) << "\n";
  } else {
    Client::mpPrintListing(std::cout, options.file, listing);
  }
  std::cout.flush();
  if (!std::cout) throw std::runtime_error("cannot write the output");
  return 0;
}

// The channels named by --channel, in its order, each read alone; every channel of the
// listing when none is named.
std::vector<Client::ChannelListing> chosenChannels(IDL::File_ptr file, const Options& options) {
  return Client::mfReadChannels(file, {options.channels.begin(), options.channels.end()});
}

int dump(IDL::File_ptr file, const Options& options) {
  const std::vector<Client::ChannelListing> channels = chosenChannels(file, options);
  Client::mpDumpCsv(stdout, Client::mfPointersTo(channels), options.range);
  return 0;
}

int stats(IDL::File_ptr file, const Options& options) {
  const std::vector<Client::ChannelListing> read = chosenChannels(file, options);
  const std::vector<const Client::ChannelListing*> channels = Client::mfPointersTo(read);
  const std::vector<Client::ChannelStats> figures = Client::mfReadStats(channels);
  if (options.json) {
    std::cout << Client::mfStatsJson(channels, figures).dump(2) << "\n";
  } else {
    Client::mpPrintStats(std::cout, channels, figures);
  }
  std::cout.flush();
  if (!std::cout) throw std::runtime_error("cannot write the output");
  return 0;
}

int header(IDL::File_ptr file, const Options& options) {
  IDL::HeaderReading_var reading = file->get_header_reading();
  if (options.json) {
    std::cout << Client::mfHeaderReadingJson(reading.in()).dump(2) << "\n";
  } else {
    Client::mpPrintHeaderReading(std::cout, options.file, reading.in());
  }
  std::cout.flush();
  if (!std::cout) throw std::runtime_error("cannot write the output");
  return 0;
}

// rainflow: its own options, its files opened together (one embedded server for all).
struct RainflowOptions {
  std::vector<std::string> files;
  unsigned channel = 0;
  std::vector<double> range;
  std::string method = "astm";
  std::vector<double> slopes;
  std::string matrixCsv;
  unsigned threads = 0;  // of a count in this process; 0: one per core
  TamblixHq::NODRA::Analysis::RainflowSettings settings;
};

constexpr const char* kRainflowExamples =
    "Examples:\n"
    "  nodra-browse rainflow examples/road-load.rsp --channel 2\n"
    "  nodra-browse rainflow drive-a.rsp:100 drive-b.rsp:20 --channel 7 --range -16000,16000 --slope 3,5,8\n"
    "  nodra-browse rainflow examples/road-load.rsp -c 2 --gate 50 --json --matrix-csv matrix.csv\n"
    "  nodra-browse rainflow --server corbaloc::rig-pc:2810/NodraServer rig/run-04.rsp:10 -c 3\n";

int rainflow(FW::CHostOrb& orb, const Options& options, RainflowOptions& rainflowOptions) {
  namespace Analysis = TamblixHq::NODRA::Analysis;
  FW::mpSetRainflowThreads(rainflowOptions.threads);
  Analysis::RainflowSettings& settings = rainflowOptions.settings;
  settings.mMethod = rainflowOptions.method == "four-point" ? Analysis::RainflowMethod::kFourPoint
                                                           : Analysis::RainflowMethod::kAstm;
  if (!rainflowOptions.range.empty()) {
    if (rainflowOptions.range.size() != 2) throw Client::UsageError("--range takes MIN,MAX");
    settings.mHasRange = true;
    settings.mRangeMin = rainflowOptions.range[0];
    settings.mRangeMax = rainflowOptions.range[1];
  }
  if (!rainflowOptions.slopes.empty()) settings.mSlopes = rainflowOptions.slopes;
  const std::string problem = Analysis::mfSettingsProblem(settings);
  if (!problem.empty()) throw Client::UsageError(problem);
  std::vector<Client::RainflowSource> sources;
  for (const std::string& file : rainflowOptions.files) sources.push_back(Client::mfParseRainflowSource(file));
  const std::vector<IDL::File_var> files = Client::mfOpenRainflowFiles(orb, sources, options.server);
  const Client::RainflowRun run = Client::mfCountRainflow(files, sources, rainflowOptions.channel, settings);
  if (!rainflowOptions.matrixCsv.empty()) {
    std::ofstream csv(rainflowOptions.matrixCsv);
    Client::mpWriteMatrixCsv(csv, run.mTotal);
    csv.close();
    if (!csv) throw std::runtime_error("cannot write the matrix to " + rainflowOptions.matrixCsv);
  }
  if (options.json) {
    std::cout << Client::mfRainflowJson(run).dump(2) << "\n";
  } else {
    Client::mpPrintRainflow(std::cout, run);
  }
  std::cout.flush();
  if (!std::cout) throw std::runtime_error("cannot write the output");
  return 0;
}

// index and find: a catalogue of the files of directories, and what it holds.
struct CatalogueOptions {
  std::string catalogue;
  std::vector<std::string> directories;
  unsigned threads = 2;
  std::map<std::string, std::string> filters;  // the query's texts, by the route's names
  bool csv = false;
};

constexpr const char* kIndexExamples =
    "Examples:\n"
    "  nodra-browse index fleet.sqlite /data/rig /data/track      # access points rig and track\n"
    "  nodra-browse index postgresql://nodra@db/fleet /data/rig\n"
    "Run it again to record only the files whose version changed; removed files leave.\n";

constexpr const char* kFindExamples =
    "Examples:\n"
    "  nodra-browse find fleet.sqlite --unit N --rate 512\n"
    "  nodra-browse find fleet.sqlite --text \"wheel force\" --recorded-from 2023-04-01 --recorded-to 2023-05-01 --csv\n"
    "  nodra-browse find fleet.sqlite --path rig/2023 --label 'Front*' --json\n";

int index(FW::CHostOrb& orb, const CatalogueOptions& options) {
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

int find(const CatalogueOptions& options, bool json) {
  const Catalogue::Query query = Client::mfCatalogueQuery([&](const char* name) -> std::optional<std::string> {
    const auto found = options.filters.find(name);
    if (found == options.filters.end()) return std::nullopt;
    return found->second;
  });
  const std::unique_ptr<Catalogue::CCatalogue> catalogue = Catalogue::mfOpenCatalogue(options.catalogue);
  const std::vector<Catalogue::ChannelRow> rows = catalogue->mfFind(query);
  if (json) {
    std::cout << Client::mfCatalogueRowsJson(rows, query).dump(2) << "\n";
  } else if (options.csv) {
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
  std::cout.flush();
  if (!std::cout) throw std::runtime_error("cannot write the output");
  return 0;
}

void printDataError(const char* message, const char* reason, const char* place) {
  std::cerr << "nodra-browse: " << message << " (reason: " << reason << "; at " << place << ")\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments, orbArguments;
  FW::CHostOrb::sfSplitArguments(argc, argv, arguments, orbArguments);
  if (FW::CHostOrb::sfShowOrbHelpIfAsked(arguments[0], orbArguments)) return 0;
  Options options;
  CLI::App app{"Shows what an RPC III file holds: its annotations and a table of its channels "
               "(description, unit, scale, limits, number of values, sampling rate, measurement "
               "point and direction). The dump subcommand writes channels' values as CSV, the "
               "stats subcommand their minimum, maximum, mean and RMS."};
  app.add_option("file", options.file, "RPC III file (with --server: ACCESS_POINT/PATH)");
  app.add_flag("--json", options.json, "print one JSON document instead of the table");
  app.add_option("--server", options.server,
                 "browse a running nodra-server: corbaloc::HOST:PORT/NodraServer, "
                 "corbaname::HOST:PORT#NAME or IOR:...");
  const auto addTimeout = [&options](CLI::App* command) {
    command->add_option("--timeout", options.timeout, "seconds a call to the server may take; 0: no limit")
        ->check(CLI::Range(0u, 86400u))
        ->capture_default_str();
  };
  addTimeout(&app);
  TamblixHq::NODRA::Apps::mpAddVersionFlag(app, TamblixHq::NODRA::Apps::mfVersionLine("nodra-browse"));
  app.footer(std::string(kListExamples) + "\n" + FW::CHostOrb::kOrbOptionsHelp);
  CLI::App* dumpCommand = app.add_subcommand(
      "dump", "Writes channels' values as CSV: a header line \"time [s],DESCRIPTION [UNIT],...\", "
              "then one line per value.");
  // The file, the channels and the server, as each subcommand takes them.
  const auto addFileOptions = [&options, &addTimeout](CLI::App* command, const char* channelHelp) {
    command->add_option("file", options.file, "RPC III file (with --server: ACCESS_POINT/PATH)")->required();
    command->add_option("--server", options.server, "browse a running nodra-server (see above)");
    addTimeout(command);
    return command->add_option("-c,--channel", options.channels, channelHelp)->delimiter(',');
  };
  addFileOptions(dumpCommand, "channel numbers, from 1 (e.g. 1,3,5)")->required();
  CORBA::ULong start = 1, count = 0;
  double from = 0, to = 0;
  CLI::Option* startOption =
      dumpCommand->add_option("--start", start, "first value, from 1")->check(CLI::Range(1u, 4294967295u));
  CLI::Option* countOption =
      dumpCommand->add_option("--count", count, "number of values (default: to the end; 0: none)");
  const auto seconds = CLI::Validator(
      [](std::string& text) {
        const double value = std::strtod(text.c_str(), nullptr);
        return std::isfinite(value) ? std::string() : "must be a finite number of seconds";
      },
      "SECONDS");
  CLI::Option* fromOption = dumpCommand
                                ->add_option("--from", from, "or by time: the values from this time on, in seconds")
                                ->check(seconds)
                                ->excludes(startOption)
                                ->excludes(countOption);
  CLI::Option* toOption = dumpCommand->add_option("--to", to, "the values up to this time, in seconds")
                              ->check(seconds)
                              ->excludes(startOption)
                              ->excludes(countOption);
  dumpCommand->footer(kDumpExamples);
  CLI::App* statsCommand = app.add_subcommand(
      "stats", "Reads every value of channels and prints per channel the number of values, of NaN "
               "values (left out of the figures), minimum, maximum, mean and RMS.");
  addFileOptions(statsCommand, "channel numbers, from 1 (default: all)");
  statsCommand->add_flag("--json", options.json, "print one JSON document instead of the table");
  statsCommand->footer(kStatsExamples);
  CLI::App* headerCommand = app.add_subcommand(
      "header", "Lists every header record the reader reads, in file order: its number, keyword "
                "and value as stored (quoted), and where a repeated keyword was ignored or the "
                "record lies in the sample data; then the sample layout the reader takes from them.");
  headerCommand->add_option("file", options.file, "RPC III file (with --server: ACCESS_POINT/PATH)")->required();
  headerCommand->add_option("--server", options.server, "browse a running nodra-server (see above)");
  addTimeout(headerCommand);
  headerCommand->add_flag("--json", options.json, "print one JSON document instead of the table");
  headerCommand->footer(kHeaderExamples);
  RainflowOptions rainflowOptions;
  CLI::App* rainflowCommand = app.add_subcommand(
      "rainflow", "Counts the cycles of a channel by rainflow (ASTM E1049-85) where the file is read, "
                  "for one file or a duty cycle of several, each FILE:REPEATS times, and prints the "
                  "cycles by range class, the damage per Woehler slope and the residue "
                  "(doc/rainflow.md defines them).");
  rainflowCommand->add_option("files", rainflowOptions.files, "FILE[:REPEATS] (with --server: ACCESS_POINT/PATH)")
      ->required();
  rainflowCommand->add_option("--server", options.server, "count on a running nodra-server (see above)");
  addTimeout(rainflowCommand);
  rainflowCommand->add_option("-c,--channel", rainflowOptions.channel, "channel number, from 1")->required()
      ->check(CLI::Range(1u, 4294967295u));
  rainflowCommand->add_option("--classes", rainflowOptions.settings.mClasses, "classes of the matrix and histograms")
      ->check(CLI::Range(1u, TamblixHq::NODRA::Analysis::kMaxClasses))
      ->capture_default_str();
  rainflowCommand->add_option("--range", rainflowOptions.range,
                              "MIN,MAX of the classes (default: the channel's minimum and maximum)")
      ->delimiter(',')
      ->expected(2);
  rainflowCommand->add_option("--gate", rainflowOptions.settings.mGate,
                              "hysteresis: reversals closer than this to the previous one are dropped")
      ->capture_default_str();
  rainflowCommand->add_option("--method", rainflowOptions.method, "astm (three-point, residue as half cycles) "
                                                                   "or four-point (residue closed by repeating it)")
      ->check(CLI::IsMember({"astm", "four-point"}))
      ->capture_default_str();
  rainflowCommand->add_option("--slope", rainflowOptions.slopes, "Woehler slopes k (default 3,5)")->delimiter(',');
  rainflowCommand->add_option("--reference-range", rainflowOptions.settings.mReferenceRange,
                              "S_ref of the damage, in the channel's unit")
      ->capture_default_str();
  rainflowCommand->add_option("--reference-cycles", rainflowOptions.settings.mReferenceCycles,
                              "N_ref: cycles to failure at S_ref (0: damage not divided)")
      ->capture_default_str();
  rainflowCommand->add_option("--max-cycles", rainflowOptions.settings.mMaxCycles,
                              "most distinct cycles listed in --json")
      ->check(CLI::Range(std::size_t{0}, TamblixHq::NODRA::Analysis::kMaxListedCycles))
      ->capture_default_str();
  rainflowCommand->add_option("--threads", rainflowOptions.threads,
                              "threads counting a long channel without --server (0: one per core; with "
                              "--server, the server's --count-threads)")
      ->check(CLI::Range(0u, 1024u))
      ->capture_default_str();
  rainflowCommand->add_flag("--json", options.json, "print one JSON document instead of the table");
  rainflowCommand->add_option("--matrix-csv", rainflowOptions.matrixCsv, "write the from-to matrix as CSV to PATH");
  rainflowCommand->footer(kRainflowExamples);
  rainflowCommand->callback([&] { options.file = rainflowOptions.files.front(); });
  CatalogueOptions catalogueOptions;
  CLI::App* indexCommand = app.add_subcommand(
      "index", "Records in a catalogue what the files of directories hold: their annotations, channels "
               "and each channel's statistics (read once per version of a file). Each DIR becomes an "
               "access point named as its last component.");
  indexCommand->add_option("catalogue", catalogueOptions.catalogue,
                           "PATH of a SQLite catalogue (made on first use), or postgresql://...")
      ->required();
  indexCommand->add_option("directories", catalogueOptions.directories, "DIR...")->required();
  indexCommand->add_option("--threads", catalogueOptions.threads, "files read at once")
      ->check(CLI::Range(1u, 64u))
      ->capture_default_str();
  indexCommand->footer(kIndexExamples);
  indexCommand->callback([&] { options.file = catalogueOptions.catalogue; });
  CLI::App* findCommand = app.add_subcommand(
      "find", "Lists the channels a catalogue holds that pass every filter given, a row per channel with "
              "its file's path (ACCESS_POINT/PATH).");
  findCommand->add_option("catalogue", catalogueOptions.catalogue, "PATH or postgresql://...")->required();
  for (const auto& [name, option, help] : std::vector<std::tuple<const char*, const char*, const char*>>{
           {"q", "--text", "words of the label, measurement point or path (\"wheel force\")"},
           {"unit", "--unit", "unit, exactly (N, mm, m/s^2)"},
           {"rate", "--rate", "sampling rate in Hz"},
           {"recorded_from", "--recorded-from", "recorded at or after this ISO 8601 moment"},
           {"recorded_to", "--recorded-to", "recorded before this ISO 8601 moment"},
           {"path", "--path", "ACCESS_POINT[/PREFIX] of the files' paths"},
           {"label", "--label", "label, exactly, or a pattern with * for any text"},
           {"limit", "--limit", "rows at most (1 to 10000, default 100)"},
           {"offset", "--offset", "rows passed over first"}}) {
    findCommand->add_option_function<std::string>(
        option, [&catalogueOptions, key = std::string(name)](const std::string& value) {
          catalogueOptions.filters[key] = value;
        },
        help);
  }
  findCommand->add_flag("--json", options.json, "print one JSON document instead of the table");
  findCommand->add_flag("--csv", catalogueOptions.csv, "print CSV instead of the table");
  findCommand->footer(kFindExamples);
  findCommand->callback([&] { options.file = catalogueOptions.catalogue; });
  try {
    std::vector<const char*> programArgv;
    for (const std::string& argument : arguments) programArgv.push_back(argument.c_str());
    app.parse(static_cast<int>(programArgv.size()), programArgv.data());
    if (options.file.empty()) throw CLI::RequiredError("file");
    if (startOption->count() > 0) options.range.mStart = start;
    if (countOption->count() > 0) options.range.mCount = count;
    if (fromOption->count() > 0) options.range.mFrom = from;
    if (toOption->count() > 0) options.range.mTo = to;
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
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
    if (rainflowCommand->parsed()) return rainflow(*orb, options, rainflowOptions);
    if (indexCommand->parsed()) return index(*orb, catalogueOptions);
    if (findCommand->parsed()) return find(catalogueOptions, options.json);
    IDL::File_var file = Client::mfOpenFile(*orb, options.file, options.server);
    if (dumpCommand->parsed()) return dump(file, options);
    if (headerCommand->parsed()) return header(file, options);
    return statsCommand->parsed() ? stats(file, options) : list(file, options);
  } catch (const Client::UsageError& e) {
    std::cerr << "nodra-browse: " << e.what() << "\n";
    return 2;
  } catch (const Catalogue::CatalogueError& e) {
    std::cerr << "nodra-browse: " << e.what() << "\n";
  } catch (const IDL::DBAccessException& e) {
    printDataError(e.message, e.reason, e.place);
  } catch (const IDL::MemAllocException& e) {
    printDataError(e.message, e.reason, e.place);
  } catch (const CORBA::TRANSIENT& e) {
    std::cerr << "nodra-browse: " << Client::mfUnreachableText(e, options.server, options.timeout) << "\n";
  } catch (const CORBA::TIMEOUT& e) {
    std::cerr << "nodra-browse: " << Client::mfUnreachableText(e, options.server, options.timeout) << "\n";
  } catch (const CORBA::SystemException& e) {
    const char* minor = e.NP_minorString();
    std::cerr << "nodra-browse: " << e._name() << " (" << (minor ? minor : "no detail") << ")\n";
  } catch (const CORBA::Exception& e) {
    std::cerr << "nodra-browse: " << e._name() << "\n";
  } catch (const std::bad_alloc&) {
    std::cerr << "nodra-browse: not enough memory for what the file asks\n";
  } catch (const std::exception& e) {
    std::cerr << "nodra-browse: " << e.what() << "\n";
  }
  return 1;
}
