// The options of nodra-server and nodra-web as their programs define them: a --config file
// sets them under their long names, the command line wins over it, and a file that names
// an option the program does not have, or holds a value the option refuses, is a usage
// error. Each row parses one command line (with a configuration file when it has one)
// and compares every option with the defaults the row changes. Then --version of each
// program, as a user runs it.

#include <gtest/gtest.h>

#include <CLI/CLI.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <ostream>
#include <string>
#include <vector>

#include "apps/options/AccessPoints.h"
#include "apps/options/ProgramInfo.h"
#include "apps/options/ServerOptions.h"
#include "apps/options/WebOptions.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ScratchDir.h"

namespace {

using TamblixHq::NODRA::Apps::ServerOptions;
using TamblixHq::NODRA::Apps::WebOptions;
using nodra::test::ScratchDir;

// One row: a configuration file (its text, or a file of the source tree; none when both
// are empty), the command line after the program's name, and what the parse gives: the
// options (the defaults, as `change` changes them) or a usage error whose message holds
// `error`.
template <typename Options>
struct Row {
  const char* name;
  std::string configText;
  std::string configSourceFile;  // relative to the source tree, as installed (doc/*.conf)
  std::vector<std::string> arguments;
  std::function<void(Options&)> change;
  std::string error;  // empty: the parse succeeds
};

template <typename Options>
void PrintTo(const Row<Options>& row, std::ostream* out) {
  *out << row.name;
}

// Parses `row` with the definitions `define` and answers the options, or the usage
// error's message in `error`.
template <typename Options>
Options parseRow(const Row<Options>& row, void (*define)(CLI::App&, Options&), std::string& error) {
  ScratchDir scratch;
  std::vector<std::string> argv{"program"};
  if (!row.configSourceFile.empty()) {
    argv.insert(argv.end(), {"--config", std::string(NODRA_SOURCE_DIR) + "/" + row.configSourceFile});
  } else if (!row.configText.empty()) {
    argv.insert(argv.end(), {"--config", scratch.mfWriteFile("program.conf", row.configText)});
  }
  argv.insert(argv.end(), row.arguments.begin(), row.arguments.end());
  std::vector<const char*> pointers;
  for (const std::string& argument : argv) pointers.push_back(argument.c_str());
  Options options;
  CLI::App app{"test"};
  define(app, options);
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& e) {
    error = e.what();
  }
  return options;
}

// ---- nodra-server ----------------------------------------------------------------------

using ServerRow = Row<ServerOptions>;

void expectSame(const ServerOptions& got, const ServerOptions& expected) {
  EXPECT_EQ(got.accessPoints, expected.accessPoints);
  EXPECT_EQ(got.host, expected.host);
  EXPECT_EQ(got.port, expected.port);
  EXPECT_EQ(got.name, expected.name);
  EXPECT_EQ(got.iorFile, expected.iorFile);
  EXPECT_EQ(got.verbosity, expected.verbosity);
  EXPECT_EQ(got.maxMessageMiB, expected.maxMessageMiB);
  EXPECT_EQ(got.maxServants, expected.maxServants);
  EXPECT_EQ(got.maxServantMiB, expected.maxServantMiB);
  EXPECT_EQ(got.maxHeaderMiB, expected.maxHeaderMiB);
  EXPECT_EQ(got.chunkSize, expected.chunkSize);
  EXPECT_EQ(got.maxLargeReplies, expected.maxLargeReplies);
  EXPECT_EQ(got.maxCounts, expected.maxCounts);
  EXPECT_EQ(got.countThreads, expected.countThreads);
}

const char* const kFullServerConfig =
    "# every setting\n"
    "access-point = \"rig=/data/rig\"\n"
    "access-point = \"track=/data/test track\"\n"
    "host = \"0.0.0.0\"\n"
    "port = 2811\n"
    "name = \"site/rig1\"\n"
    "ior-file = \"/run/nodra-server/nodra-server.ior\"\n"
    "verbose = 2\n"
    "max-message = 128\n"
    "max-servants = 1000\n"
    "max-servant-mib = 16\n"
    "max-header-mib = 8\n"
    "chunk-size = 32\n"
    "max-large-replies = 2\n"
    "max-counts = 3\n"
    "count-threads = 5\n";

void fullServerConfig(ServerOptions& o) {
  o.accessPoints = {"rig=/data/rig", "track=/data/test track"};
  o.host = "0.0.0.0";
  o.port = 2811;
  o.name = "site/rig1";
  o.iorFile = "/run/nodra-server/nodra-server.ior";
  o.verbosity = 2;
  o.maxMessageMiB = 128;
  o.maxServants = 1000;
  o.maxServantMiB = 16;
  o.maxHeaderMiB = 8;
  o.chunkSize = 32;
  o.maxLargeReplies = 2;
  o.maxCounts = 3;
  o.countThreads = 5;
}

const ServerRow kServerRows[] = {
    {"CommandLineAlone", "", "", {"--access-point", "rig=/data/rig", "-p", "2900"},
     [](ServerOptions& o) { o.accessPoints = {"rig=/data/rig"}; o.port = 2900; }, ""},
    {"FileSetsEveryOption", kFullServerConfig, "", {}, fullServerConfig, ""},
    {"AListOnOneLineGivesSeveralAccessPoints",
     "access-point = [\"rig=/data/rig\", \"track=/data/track\"]\n", "", {},
     [](ServerOptions& o) { o.accessPoints = {"rig=/data/rig", "track=/data/track"}; }, ""},
    {"CommandLineWinsOverTheFile", kFullServerConfig, "",
     {"--port", "3000", "--host", "127.0.0.2", "--max-servants", "64", "-v"},
     [](ServerOptions& o) {
       fullServerConfig(o);
       o.port = 3000;
       o.host = "127.0.0.2";
       o.maxServants = 64;
       o.verbosity = 1;
     },
     ""},
    {"AccessPointsOnTheCommandLineReplaceTheFiles", kFullServerConfig, "", {"-a", "x=/x"},
     [](ServerOptions& o) { fullServerConfig(o); o.accessPoints = {"x=/x"}; }, ""},
    {"VerboseZeroInTheFileIsQuiet", "access-point = \"rig=/data/rig\"\nverbose = 0\n", "", {},
     [](ServerOptions& o) { o.accessPoints = {"rig=/data/rig"}; }, ""},
    {"TheFileCanGiveTheRequiredAccessPointAlone", "access-point = \"rig=/data/rig\"\n", "", {},
     [](ServerOptions& o) { o.accessPoints = {"rig=/data/rig"}; }, ""},
    {"AnUnknownNameInTheFileIsAnError", "access-point = \"rig=/data/rig\"\nprot = 2811\n", "", {},
     [](ServerOptions&) {}, "prot"},
    {"ASectionInTheFileIsAnError", "[nodra-server]\naccess-point = \"rig=/data/rig\"\n", "", {},
     [](ServerOptions&) {}, "nodra-server"},
    {"AValueOutOfRangeInTheFileIsAnError", "access-point = \"rig=/data/rig\"\nport = 70000\n", "", {},
     [](ServerOptions&) {}, "--port"},
    {"NoLargeRepliesAtAllIsRefused", "", "", {"-a", "x=/x", "--max-large-replies", "0"}, [](ServerOptions&) {},
     "--max-large-replies"},
    {"AFileWithoutAccessPointsNeedsThemOnTheCommandLine", "port = 2811\n", "", {},
     [](ServerOptions&) {}, "--access-point is required"},
    {"AMissingFileIsAnError", "", "", {"--config", "/no/such/nodra-server.conf", "-a", "x=/x"},
     [](ServerOptions&) {}, "/no/such/nodra-server.conf"},
    {"TheExampleInDocIsTheInstalledDefault", "", "doc/nodra-server.conf", {},
     [](ServerOptions& o) {
       o.accessPoints = {"examples=/usr/share/nodra/examples"};
       o.verbosity = 1;
     },
     ""},
};

class ServerOptionsTest : public ::testing::TestWithParam<ServerRow> {};

TEST_P(ServerOptionsTest, ParsesAsTheRowSays) {
  const ServerRow& row = GetParam();
  std::string error;
  const ServerOptions got = parseRow(row, &TamblixHq::NODRA::Apps::mpDefineServerOptions, error);
  if (!row.error.empty()) {
    EXPECT_NE(error.find(row.error), std::string::npos) << "error: \"" << error << "\"";
    return;
  }
  ASSERT_EQ(error, "");
  ServerOptions expected;
  row.change(expected);
  expectSame(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ServerOptionsTest, ::testing::ValuesIn(kServerRows),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- nodra-web -------------------------------------------------------------------------

using WebRow = Row<WebOptions>;

void expectSame(const WebOptions& got, const WebOptions& expected) {
  EXPECT_EQ(got.accessPoints, expected.accessPoints);
  EXPECT_EQ(got.server, expected.server);
  EXPECT_EQ(got.listen, expected.listen);
  EXPECT_EQ(got.webRoot, expected.webRoot);
  EXPECT_EQ(got.timeout, expected.timeout);
  EXPECT_EQ(got.allowedHosts, expected.allowedHosts);
  EXPECT_EQ(got.headerSeconds, expected.headerSeconds);
  EXPECT_EQ(got.connectionsPerAddress, expected.connectionsPerAddress);
  EXPECT_EQ(got.maxValues, expected.maxValues);
}

const char* const kFullWebConfig =
    "access-point = \"rig=/data/rig\"\n"
    "access-point = \"track=/data/track\"\n"
    "listen = \"0.0.0.0:9000\"\n"
    "web-root = \"/opt/page\"\n"
    "timeout = 5\n"
    "allow-host = \"rig-pc\"\n"
    "allow-host = \"rig-pc.lab\"\n"
    "header-seconds = 3\n"
    "connections-per-address = 4\n"
    "max-values = 1000000\n";

void fullWebConfig(WebOptions& o) {
  o.accessPoints = {"rig=/data/rig", "track=/data/track"};
  o.listen = "0.0.0.0:9000";
  o.webRoot = "/opt/page";
  o.timeout = 5;
  o.allowedHosts = {"rig-pc", "rig-pc.lab"};
  o.headerSeconds = 3;
  o.connectionsPerAddress = 4;
  o.maxValues = 1000000;
}

const WebRow kWebRows[] = {
    {"CommandLineAlone", "", "", {"--server", "corbaloc::h:2810/NodraServer", "--listen", "127.0.0.1:0"},
     [](WebOptions& o) { o.server = "corbaloc::h:2810/NodraServer"; o.listen = "127.0.0.1:0"; }, ""},
    {"FileSetsEveryOption", kFullWebConfig, "", {}, fullWebConfig, ""},
    {"CommandLineWinsOverTheFile", kFullWebConfig, "",
     {"--listen", "127.0.0.1:0", "--allow-host", "other", "--timeout", "0"},
     [](WebOptions& o) {
       fullWebConfig(o);
       o.listen = "127.0.0.1:0";
       o.allowedHosts = {"other"};
       o.timeout = 0;
     },
     ""},
    {"AnUnknownNameInTheFileIsAnError", "server = \"corbaloc::h:2810/NodraServer\"\nport = 80\n", "", {},
     [](WebOptions&) {}, "port"},
    {"AValueOutOfRangeInTheFileIsAnError", "header-seconds = 0\n", "", {}, [](WebOptions&) {},
     "--header-seconds"},
    {"MaxValuesBeyondTwoToThe32IsRefused", "", "", {"--max-values", "4294967297"}, [](WebOptions&) {},
     "--max-values"},
    {"TheExampleInDocIsTheInstalledDefault", "", "doc/nodra-web.conf", {},
     [](WebOptions& o) { o.server = "corbaloc::127.0.0.1:2810/NodraServer"; }, ""},
};

class WebOptionsTest : public ::testing::TestWithParam<WebRow> {};

TEST_P(WebOptionsTest, ParsesAsTheRowSays) {
  const WebRow& row = GetParam();
  std::string error;
  const WebOptions got = parseRow(row, &TamblixHq::NODRA::Apps::mpDefineWebOptions, error);
  if (!row.error.empty()) {
    EXPECT_NE(error.find(row.error), std::string::npos) << "error: \"" << error << "\"";
    return;
  }
  ASSERT_EQ(error, "");
  WebOptions expected;
  row.change(expected);
  expectSame(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, WebOptionsTest, ::testing::ValuesIn(kWebRows),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- --version, as the programs print it -----------------------------------------------

TEST(ProgramVersion, EachProgramPrintsTheProjectsVersionOnOneLine) {
  const std::string version = NODRA_VERSION;
  const std::vector<std::pair<std::string, std::string>> programs = {
      {NODRA_SERVER_PATH, "nodra-server " + version + " (omniORB " +
                              TamblixHq::NODRA::Apps::mfOmniOrbVersion() + ")\n"},
      {NODRA_BROWSE_PATH, "nodra-browse " + version + "\n"},
      {NODRA_WEB_PATH, "nodra-web " + version + "\n"},
  };
  for (const auto& [path, line] : programs) {
    const nodra::test::ProgramResult result = nodra::test::mfRunProgram({path, "--version"});
    EXPECT_EQ(result.mStatus, 0) << path << ": " << result.mErr;
    EXPECT_EQ(result.mOut, line) << path;
  }
  EXPECT_STREQ(TamblixHq::NODRA::Apps::mfProjectVersion(), NODRA_VERSION);
}

TEST(ProgramVersion, TheServerNamesTheOmniOrbTheOrbSaysItIs) {
  // The ORB's trace names the library's version as the ORB starts (the address then fails).
  const nodra::test::ProgramResult traced = nodra::test::mfRunProgram(
      {NODRA_SERVER_PATH, "--access-point", "x=" NODRA_SOURCE_DIR "/examples", "--host", "256.0.0.1",
       "-ORBtraceLevel", "10"});
  const std::string omniOrb = TamblixHq::NODRA::Apps::mfOmniOrbVersion();
  ASSERT_FALSE(omniOrb.empty());
  EXPECT_NE(traced.mErr.find("Version: " + omniOrb + "\n"), std::string::npos) << traced.mErr;
}

TEST(AccessPointSettings, AreReadInOrderAndANameGivenTwiceIsRefused) {
  ScratchDir dir;
  const std::string a = dir.mfMakeDir("a"), b = dir.mfMakeDir("b");
  using TamblixHq::NODRA::Apps::mfParseAccessPoints;
  const auto points = mfParseAccessPoints({"x=" + a, "y=" + b, "z=" + a});  // one directory, two names
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[1].mName + "=" + points[1].mDirectory, "y=" + b);
  const struct {
    std::vector<std::string> texts;
    const char* error;
  } refused[] = {
      {{"x=" + a, "x=" + b}, "access point x is named twice"},
      {{"x=" + a, "x=" + a}, "access point x is named twice"},
      {{"x"}, "needs NAME=DIR"},
      {{"=" + a}, "needs NAME=DIR"},
      {{"x=" + a + "/none"}, "is not a directory"},
  };
  for (const auto& row : refused) {
    try {
      mfParseAccessPoints(row.texts);
      ADD_FAILURE() << "accepted " << row.texts.back();
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(row.error), std::string::npos) << e.what();
    }
  }
}

TEST(AccessPointSettings, ADirectoryTheServiceUserCannotReadIsWarnedOfAtStart) {
  ScratchDir dir;
  ::chmod(dir.mfText().c_str(), 0755);
  const std::string readable = dir.mfMakeDir("readable"), closed = dir.mfMakeDir("closed");
  const std::string listOnly = dir.mfMakeDir("list-only");
  ::chmod(closed.c_str(), 0);
  ::chmod(listOnly.c_str(), 0644);  // listed, but nothing beneath it opens
  // Root reads every directory: the check runs as an unprivileged user then.
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(out[0]);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    std::string text;
    for (const std::string& warning : TamblixHq::NODRA::Apps::mfUnreadableWarnings(
             {{"open", readable}, {"shut", closed}, {"peek", listOnly}})) {
      text += warning + "\n";
    }
    const ssize_t written = ::write(out[1], text.data(), text.size());
    ::_exit(written == static_cast<ssize_t>(text.size()) ? 0 : 4);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(text, "WARNING: access point shut: cannot read \"" + closed +
                      "\" (Permission denied); every file in it will be refused until this user may read it\n"
                      "WARNING: access point peek: cannot read \"" + listOnly +
                      "\" (Permission denied); every file in it will be refused until this user may read it\n");
  ::chmod(closed.c_str(), 0755);
  ::chmod(listOnly.c_str(), 0755);
}

}  // namespace
