#include "apps/options/BrowseOptions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

#include "apps/options/ProgramInfo.h"
#include "host/framework/CHostOrb.h"

namespace TamblixHq::NODRA::Apps {

namespace {

constexpr const char* kListExamples =
    "Examples:\n"
    "  nodra-browse examples/road-load.rsp\n"
    "  nodra-browse lab/*.rsp\n"
    "  nodra-browse --json examples/road-load.rsp > channels.json\n"
    "  nodra-browse --server corbaloc::rig-pc:2810/NodraServer rig/road-load.rsp\n"
    "  nodra-browse --server corbaname::names-host:2809#rig rig/2025/run-04.rsp\n";

constexpr const char* kDumpText =
    "Writes channels' values as CSV: a header line \"time [s],DESCRIPTION [UNIT],...\", then one line per "
    "value. Several files are written side by side when their time bases agree.\n\n"
    "Examples:\n"
    "  nodra-browse dump examples/road-load.rsp --channel 2 > force.csv\n"
    "  nodra-browse dump examples/road-load.rsp --channel 1-3,5 --start 1001 --count 500\n"
    "  nodra-browse dump examples/road-load.rsp --channel 4 --from 3.9 --to 4.1\n"
    "  nodra-browse dump examples/road-load.rsp --channel \"Vehicle speed\" --decimal-comma > speed.csv\n";

constexpr const char* kStatsText =
    "Reads every value of channels and prints per channel the number of values, of NaN values (left out of "
    "the figures), minimum, maximum, mean and RMS.\n\n"
    "Examples:\n"
    "  nodra-browse stats examples/road-load.rsp\n"
    "  nodra-browse stats run-1.rsp run-2.rsp --channel 1,4 --json > peaks.json\n"
    "  nodra-browse stats --server corbaloc::rig-pc:2810/NodraServer rig/road-load.rsp\n";

constexpr const char* kHeaderText =
    "Lists every header record the reader reads, in file order: its number, keyword and value as stored "
    "(quoted), and where a repeated keyword was ignored or the record lies in the sample data; then the "
    "sample layout the reader takes from them.\n\n"
    "Examples:\n"
    "  nodra-browse header examples/road-load.rsp\n"
    "  nodra-browse header --json --server corbaloc::rig-pc:2810/NodraServer rig/road-load.rsp\n";

constexpr const char* kRainflowText =
    "Counts the cycles of a channel by rainflow (ASTM E1049-85) where the file is read, for one file or a "
    "duty cycle of several, each FILE:REPEATS times, and prints the cycles by range class, the damage per "
    "Woehler slope and the residue (doc/rainflow.md defines them).\n\n"
    "Examples:\n"
    "  nodra-browse rainflow examples/road-load.rsp --channel 2\n"
    "  nodra-browse rainflow drive-a.rsp:100 drive-b.rsp:20 --channel 7 --range -16000,16000 --slope 3,5,8\n"
    "  nodra-browse rainflow examples/road-load.rsp -c 2 --gate 50 --json --matrix-csv matrix.csv\n"
    "  nodra-browse rainflow --server corbaloc::rig-pc:2810/NodraServer rig/run-04.rsp:10 -c 3\n";

constexpr const char* kIndexText =
    "Records in a catalogue what the files of directories hold: their annotations, channels and each "
    "channel's statistics (read once per version of a file). Each DIR becomes an access point named as its "
    "last component. Run it again to record only the files whose version changed; removed files leave.\n\n"
    "Examples:\n"
    "  nodra-browse index fleet.sqlite /data/rig /data/track      # access points rig and track\n"
    "  nodra-browse index postgresql://nodra@db/fleet /data/rig\n";

constexpr const char* kFindText =
    "Lists the channels a catalogue holds that pass every filter given, a row per channel with its file's "
    "path (ACCESS_POINT/PATH).\n\n"
    "Examples:\n"
    "  nodra-browse find fleet.sqlite --unit N --rate 512\n"
    "  nodra-browse find fleet.sqlite --text \"wheel force\" --recorded-from 2023-04-01 --recorded-to 2023-05-01 "
    "--csv\n"
    "  nodra-browse find fleet.sqlite --path rig/2023 --label 'Front*' --json\n";

constexpr const char* kFilesText =
    "Lists the RPC III files and sub-directories of a directory (default: the current one); with --server, "
    "the server's access points, or the files and directories of ACCESS_POINT[/DIR].\n\n"
    "Examples:\n"
    "  nodra-browse files examples\n"
    "  nodra-browse files --server corbaloc::rig-pc:2810/NodraServer\n"
    "  nodra-browse files --server corbaloc::rig-pc:2810/NodraServer rig/2025\n";

constexpr const char* kFileHelp = "RPC III files (with --server: ACCESS_POINT/PATH)";
constexpr const char* kServerHelp =
    "browse a running nodra-server: corbaloc::HOST:PORT/NodraServer, corbaname::HOST:PORT#NAME or IOR:...";
constexpr const char* kChannelHelp =
    "channels by number (1,3), range (1-3) or label (\"Vehicle:speed:S\"), separated by commas";

// A validator that shows nothing in the help: the option's text says the range.
CLI::Validator quiet(CLI::Validator validator) { return validator.description(""); }

unsigned distance(const std::string& a, const std::string& b) {
  std::vector<unsigned> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<unsigned>(j);
  for (std::size_t i = 1; i <= a.size(); ++i) {
    unsigned diagonal = row[0];
    row[0] = static_cast<unsigned>(i);
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const unsigned above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0u : 1u)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::vector<std::string> BrowseCommands::mfNames() const {
  std::vector<std::string> names;
  for (const CLI::App* command : {dump, stats, header, rainflow, index, find, files}) {
    names.push_back(command->get_name());
  }
  return names;
}

std::string mfNearCommand(const std::string& text, const std::vector<std::string>& names) {
  std::string best;
  unsigned bestDistance = 3;
  for (const std::string& name : names) {
    const unsigned d = distance(text, name);
    if (d < bestDistance && d < name.size()) {
      best = name;
      bestDistance = d;
    }
  }
  return best;
}

BrowseCommands mpDefineBrowseOptions(CLI::App& app, BrowseOptions& options) {
  mpUseProgramName(app, "nodra-browse");
  mpAddVersionFlag(app, mfVersionLine("nodra-browse"));
  app.description(
      "Shows what RPC III files hold: their annotations and a table of their channels (description, unit, "
      "scale, limits, number of values, sampling rate, measurement point and direction).");
  app.footer(std::string(kListExamples) + "\n" + Framework::CHostOrb::kOrbOptionsHelp);
  app.require_subcommand(0, 1);
  // What every subcommand that reads files takes, on it and before it.
  const auto addCommon = [&options](CLI::App* command, bool json) {
    command->add_option("--server", options.server, kServerHelp)->type_name("URL");
    command->add_option("--timeout", options.timeout, "seconds a call to the server may take, up to 86400; 0: no limit")
        ->check(quiet(CLI::Range(0u, 86400u)))
        ->type_name("SECONDS")
        ->capture_default_str();
    command->add_flag("-v,--verbose", options.verbose, "say where the data objects failed");
    if (json) command->add_flag("--json", options.json, "print one JSON document instead of the table");
  };
  addCommon(&app, true);
  app.add_option("files", options.files, kFileHelp)->type_name("FILE");

  BrowseCommands commands;
  commands.dump = app.add_subcommand("dump", "channels' values as CSV");
  commands.dump->footer(kDumpText);
  commands.dump->add_option("files", options.files, kFileHelp)->type_name("FILE")->required();
  addCommon(commands.dump, false);
  commands.dump->add_option("-c,--channel", options.channels, kChannelHelp)
      ->delimiter(',')
      ->type_name("CHANNEL")
      ->required();
  CLI::Option* start = commands.dump->add_option_function<CORBA::ULong>(
      "--start", [&options](const CORBA::ULong& value) { options.range.mStart = value; }, "first value, from 1");
  start->check(quiet(CLI::Range(1u, 4294967295u)))->type_name("N");
  CLI::Option* count = commands.dump->add_option_function<CORBA::ULong>(
      "--count", [&options](const CORBA::ULong& value) { options.range.mCount = value; },
      "number of values (default: to the end; 0: none)");
  count->type_name("N");
  const auto seconds = CLI::Validator(
      [](std::string& text) {
        const double value = std::strtod(text.c_str(), nullptr);
        return std::isfinite(value) ? std::string() : "must be a finite number of seconds";
      },
      "");
  commands.dump
      ->add_option_function<double>(
          "--from", [&options](const double& value) { options.range.mFrom = value; },
          "or by time: the values from this time on")
      ->check(seconds)
      ->type_name("SECONDS")
      ->excludes(start)
      ->excludes(count);
  commands.dump
      ->add_option_function<double>(
          "--to", [&options](const double& value) { options.range.mTo = value; }, "the values up to this time")
      ->check(seconds)
      ->type_name("SECONDS")
      ->excludes(start)
      ->excludes(count);
  commands.dump
      ->add_option("--delimiter", options.delimiter,
                   "the character between cells, or tab (default: \",\"; \";\" with --decimal-comma)")
      ->type_name("CHAR");
  commands.dump->add_flag("--decimal-comma", options.decimalComma, "write numbers with a decimal comma (3,25)");

  commands.stats = app.add_subcommand("stats", "minimum, maximum, mean and RMS per channel");
  commands.stats->footer(kStatsText);
  commands.stats->add_option("files", options.files, kFileHelp)->type_name("FILE")->required();
  addCommon(commands.stats, true);
  commands.stats->add_option("-c,--channel", options.channels, std::string(kChannelHelp) + " (default: all)")
      ->delimiter(',')
      ->type_name("CHANNEL");

  commands.header = app.add_subcommand("header", "every header record as the reader took it");
  commands.header->footer(kHeaderText);
  commands.header->add_option("files", options.files, kFileHelp)->type_name("FILE")->required();
  addCommon(commands.header, true);

  commands.rainflow = app.add_subcommand("rainflow", "rainflow cycles, matrix and damage of a channel");
  commands.rainflow->footer(kRainflowText);
  commands.rainflow->add_option("files", options.files, "FILE[:REPEATS] (with --server: ACCESS_POINT/PATH)")
      ->type_name("FILE[:REPEATS]")
      ->required();
  addCommon(commands.rainflow, true);
  commands.rainflow->add_option("-c,--channel", options.rainflowChannel, "channel number or label")
      ->type_name("CHANNEL")
      ->required();
  commands.rainflow
      ->add_option("--classes", options.rainflow.mClasses,
                   "classes of the matrix and histograms, 1 to " + std::to_string(Analysis::kMaxClasses))
      ->check(quiet(CLI::Range(1u, Analysis::kMaxClasses)))
      ->type_name("N")
      ->capture_default_str();
  commands.rainflow
      ->add_option("--range", options.rainflowRange, "MIN,MAX of the classes (default: the channel's minimum and maximum)")
      ->delimiter(',')
      ->expected(2)
      ->type_name("MIN,MAX");
  commands.rainflow
      ->add_option("--gate", options.rainflow.mGate, "hysteresis: reversals closer than this to the previous one are dropped")
      ->type_name("RANGE")
      ->capture_default_str();
  commands.rainflow
      ->add_option("--method", options.method,
                   "astm (three-point, residue as half cycles) or four-point (residue closed by repeating it)")
      ->check(quiet(CLI::IsMember({"astm", "four-point"})))
      ->type_name("METHOD")
      ->capture_default_str();
  commands.rainflow->add_option("--slope", options.slopes, "Woehler slopes k (default 3,5)")
      ->delimiter(',')
      ->type_name("K,...");
  commands.rainflow
      ->add_option("--reference-range", options.rainflow.mReferenceRange, "S_ref of the damage, in the channel's unit")
      ->type_name("RANGE")
      ->capture_default_str();
  commands.rainflow
      ->add_option("--reference-cycles", options.rainflow.mReferenceCycles,
                   "N_ref: cycles to failure at S_ref (0: damage not divided)")
      ->type_name("N")
      ->capture_default_str();
  commands.rainflow
      ->add_option("--max-cycles", options.rainflow.mMaxCycles,
                   "most distinct cycles listed in --json, up to " + std::to_string(Analysis::kMaxListedCycles))
      ->check(quiet(CLI::Range(std::size_t{0}, Analysis::kMaxListedCycles)))
      ->type_name("N")
      ->capture_default_str();
  commands.rainflow->add_option("--matrix-csv", options.matrixCsv, "write the from-to matrix as CSV to PATH")
      ->type_name("PATH");
  commands.rainflow->add_flag("--join", options.join,
                              "count the files as one signal, one after another in the order given (consecutive "
                              "files of one drive); their values are read and counted by this program");
  commands.rainflow
      ->add_option("--threads", options.countThreads,
                   "threads counting a long channel without --server or with --join (0: one per core; with "
                   "--server, the server's --count-threads)")
      ->check(quiet(CLI::Range(0u, 1024u)))
      ->type_name("N")
      ->capture_default_str();

  commands.index = app.add_subcommand("index", "record what the files of directories hold in a catalogue");
  commands.index->footer(kIndexText);
  commands.index->add_option("catalogue", options.catalogue, "PATH of a SQLite catalogue (made on first use), or "
                                                             "postgresql://...")
      ->type_name("CATALOGUE")
      ->required();
  commands.index->add_option("directories", options.directories, "directories to index")
      ->type_name("DIR")
      ->required();
  commands.index->add_option("--threads", options.threads, "files read at once, 1 to 64")
      ->check(quiet(CLI::Range(1u, 64u)))
      ->type_name("N")
      ->capture_default_str();

  commands.find = app.add_subcommand("find", "the channels of a catalogue that pass filters");
  commands.find->footer(kFindText);
  commands.find->add_option("catalogue", options.catalogue, "PATH or postgresql://...")
      ->type_name("CATALOGUE")
      ->required();
  for (const auto& [name, option, help, type] :
       std::vector<std::tuple<const char*, const char*, const char*, const char*>>{
           {"q", "--text", "words of the label, measurement point or path (\"wheel force\")", "WORDS"},
           {"unit", "--unit", "unit, exactly (N, mm, m/s^2)", "UNIT"},
           {"rate", "--rate", "sampling rate in Hz", "HZ"},
           {"recorded_from", "--recorded-from", "recorded at or after this ISO 8601 moment", "TIME"},
           {"recorded_to", "--recorded-to", "recorded before this ISO 8601 moment", "TIME"},
           {"path", "--path", "ACCESS_POINT[/PREFIX] of the files' paths", "PATH"},
           {"label", "--label", "label, exactly, or a pattern with * for any text", "LABEL"},
           {"limit", "--limit", "rows at most (1 to 10000, default 100)", "N"},
           {"offset", "--offset", "rows passed over first", "N"}}) {
    commands.find
        ->add_option_function<std::string>(
            option, [&options, key = std::string(name)](const std::string& value) { options.filters[key] = value; },
            help)
        ->type_name(type);
  }
  commands.find->add_flag("--json", options.json, "print one JSON document instead of the table");
  commands.find->add_flag("--csv", options.csvRows, "print CSV instead of the table");

  commands.files = app.add_subcommand("files", "the RPC III files of a directory, or what a server holds");
  commands.files->footer(kFilesText);
  commands.files->add_option("directory", options.directories, "DIR (with --server: ACCESS_POINT[/DIR])")
      ->type_name("DIR")
      ->expected(0, 1);
  addCommon(commands.files, true);
  mpMakeHelpReadable(app);
  return commands;
}

}  // namespace TamblixHq::NODRA::Apps
