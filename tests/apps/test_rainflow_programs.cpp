// Rainflow counting end to end: `nodra-browse rainflow` embedded and through a server
// process, for channels longer than one read chunk, against the counting library run on
// the written values; a duty cycle of two files with repetitions; the text table and the
// matrix CSV; and GET /api/rainflow of nodra-web, which answers the document of --json.

#include <gtest/gtest.h>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <cmath>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/Rainflow.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {
namespace {

using namespace TamblixHq::NODRA::Analysis;
using Json = nlohmann::json;

// Two int16 channels of 196800 values: more than one read chunk of the servant.
// A slow wave under noise, scaled by 0.5 and 0.25 (exact, so that the values are known),
// with many cycles of many sizes.
constexpr std::int64_t kValues = 1968 * 100;
double sample(int channel, std::int64_t index, int variant) {
  const double wave = 8000 * std::sin(0.0007 * static_cast<double>(index) * (channel + variant));
  const double noise = static_cast<double>((index * 7919 + (channel + variant) * 104729) % 4001) - 2000;
  return std::round(wave + noise);
}

Rpc3FileLayout layout(int variant) {
  Rpc3FileLayout layout;
  layout.mChannels = 2;
  layout.mPtsPerFrame = 100;
  layout.mFrames = kValues / 100;
  layout.mChannelTexts = {{"Hub:force:+Z", "N", "0.5", "-16000", "16000"}, {"Body:acc", "g", "0.25", "-30", "30"}};
  layout.mSample = [variant](int channel, std::int64_t index) { return sample(channel, index, variant); };
  return layout;
}

// The values the reader gives: int16 samples times the scale, as floats.
std::vector<double> valuesOf(int channel, int variant) {
  std::vector<double> values;
  for (std::int64_t i = 1; i <= kValues; ++i) {
    const double stored = std::max(-32768.0, std::min(32767.0, sample(channel, i, variant)));
    values.push_back(static_cast<float>(static_cast<float>(stored) * (channel == 1 ? 0.5f : 0.25f)));
  }
  return values;
}

// The document's total against a result of the library, field by field.
void expectTotal(const Json& total, const RainflowResult& r) {
  EXPECT_EQ(total.at("values"), r.mValues);
  EXPECT_EQ(total.at("reversals"), r.mReversals);
  EXPECT_EQ(total.at("cycle_count").get<double>(), r.mfTotalCycles());
  EXPECT_EQ(total.at("full_cycles").get<double>(), r.mFullCycles);
  EXPECT_EQ(total.at("half_cycles").get<double>(), r.mHalfCycles);
  const unsigned n = r.mSettings.mClasses;
  ASSERT_EQ(total.at("matrix").size(), n);
  for (unsigned i = 0; i < n; ++i) {
    for (unsigned j = 0; j < n; ++j) ASSERT_EQ(total.at("matrix")[i][j].get<double>(), r.mMatrix[i * n + j]);
  }
  ASSERT_EQ(total.at("damage").size(), r.mDamage.size());
  for (std::size_t k = 0; k < r.mDamage.size(); ++k) {
    EXPECT_EQ(total.at("damage")[k].at("damage").get<double>(), r.mDamage[k]);
  }
  ASSERT_EQ(total.at("crossings").size(), r.mCrossings.size());
  for (std::size_t j = 0; j < r.mCrossings.size(); ++j) {
    EXPECT_EQ(total.at("crossings")[j].at("count").get<double>(), r.mCrossings[j]);
  }
  EXPECT_EQ(total.at("cycles_complete"), r.mCyclesComplete);
  ASSERT_EQ(total.at("cycles").size(), r.mCycles.size());
  for (std::size_t i = 0; i < r.mCycles.size(); ++i) {
    const Json& c = total.at("cycles")[i];
    ASSERT_EQ(c.at("from").get<double>(), r.mCycles[i].mFrom);
    ASSERT_EQ(c.at("to").get<double>(), r.mCycles[i].mTo);
    ASSERT_EQ(c.at("count").get<double>(), r.mCycles[i].mCount);
  }
}

class RainflowPrograms : public ::testing::Test {
protected:
  void SetUp() override {
    mA = mDir.mfWriteFile("rig/a.rsp", mfBuildRpc3File(layout(0)));
    mB = mDir.mfWriteFile("rig/b.rsp", mfBuildRpc3File(layout(1)));
  }
  static ProgramResult browse(std::vector<std::string> args) {
    args.insert(args.begin(), {NODRA_BROWSE_PATH, "rainflow"});
    return mfRunProgram(args);
  }
  static Json json(const std::vector<std::string>& args) {
    const ProgramResult run = browse(args);
    EXPECT_EQ(run.mStatus, 0) << run.mErr;
    return run.mStatus == 0 ? Json::parse(run.mOut) : Json();
  }

  ScratchDir mDir;
  std::string mA, mB;
};

TEST_F(RainflowPrograms, TheCountsAreThoseOfTheLibraryOnTheWrittenValues) {
  for (int channel : {1, 2}) {
    for (const char* method : {"astm", "four-point"}) {
      SCOPED_TRACE(std::string("channel ") + std::to_string(channel) + " " + method);
      const Json doc = json({mA, "--channel", std::to_string(channel), "--method", method, "--json",
                             "--max-cycles", "262144"});
      RainflowSettings s;
      s.mMethod = std::string(method) == "astm" ? RainflowMethod::kAstm : RainflowMethod::kFourPoint;
      s.mMaxCycles = kMaxListedCycles;
      const RainflowResult expected = mfCountValues(valuesOf(channel, 0), s);
      ASSERT_GT(expected.mFullCycles, 1000);
      ASSERT_TRUE(expected.mCyclesComplete);
      EXPECT_EQ(doc.at("channel"), channel);
      EXPECT_EQ(doc.at("settings").at("range_min").get<double>(), expected.mSettings.mRangeMin);
      EXPECT_EQ(doc.at("settings").at("range_max").get<double>(), expected.mSettings.mRangeMax);
      expectTotal(doc.at("total"), expected);
      ASSERT_EQ(doc.at("files").size(), 1u);
      EXPECT_EQ(doc.at("files")[0].at("residue").size(), expected.mResidue.size());
    }
  }
}

TEST_F(RainflowPrograms, ADutyCycleAddsTheFilesWithTheirRepetitionsInOneClassRange) {
  const Json doc = json({mA + ":100", mB + ":20", "--channel", "1", "--slope", "3,5,8", "--json"});
  RainflowSettings s;
  s.mSlopes = {3, 5, 8};
  const std::vector<double> a = valuesOf(1, 0), b = valuesOf(1, 1);
  std::optional<ValueRange> range = mfFiniteRange(a.data(), a.size());
  mpWiden(range, mfFiniteRange(b.data(), b.size()));
  s.mHasRange = true;
  s.mRangeMin = range->mMin;
  s.mRangeMax = range->mMax;
  RainflowResult total;
  mpCombine(total, mfCountValues(a, s), 100);
  mpCombine(total, mfCountValues(b, s), 20);
  expectTotal(doc.at("total"), total);
  ASSERT_EQ(doc.at("files").size(), 2u);
  EXPECT_EQ(doc.at("files")[0].at("repeats"), 100);
  EXPECT_EQ(doc.at("files")[1].at("repeats"), 20);
}

TEST_F(RainflowPrograms, JoinedFilesAreCountedAsOneSignal) {
  std::vector<double> both = valuesOf(1, 0);
  const std::vector<double> b = valuesOf(1, 1);
  both.insert(both.end(), b.begin(), b.end());
  for (const char* method : {"astm", "four-point"}) {
    SCOPED_TRACE(method);
    const Json doc = json({mA, mB, "--join", "-c", "1", "--method", method, "--threads", "2", "--json"});
    RainflowSettings s;
    s.mMethod = std::string(method) == "astm" ? RainflowMethod::kAstm : RainflowMethod::kFourPoint;
    expectTotal(doc.at("total"), mfCountValues(both, s));
    EXPECT_EQ(doc.at("joined"), Json::array({mA, mB}));
    EXPECT_EQ(doc.at("files").size(), 1u);
  }
  const ProgramResult text = browse({mA, mB, "--join", "-c", "1"});
  EXPECT_EQ(text.mOut.rfind("Rainflow count of channel 1 (Hub:force:+Z, N) of " + mA + " + " + mB +
                                ", joined into one signal\n",
                            0),
            0u)
      << text.mOut;

  Rpc3FileLayout faster = layout(1);
  faster.mDeltaT = "0.0005";
  const std::string c = mDir.mfWriteFile("rig/c.rsp", mfBuildRpc3File(faster));
  const struct {
    std::vector<std::string> args;
    const char* error;
  } refused[] = {
      {{mA + ":2", mB, "--join", "-c", "1"}, "counted once each"},
      {{mA, c, "--join", "-c", "1"}, "only files of one sampling and unit join into one signal"},
  };
  for (const auto& [args, error] : refused) {
    const ProgramResult run = browse(args);
    EXPECT_EQ(run.mStatus, 2) << args[0];
    EXPECT_NE(run.mErr.find(error), std::string::npos) << run.mErr;
  }
}

TEST_F(RainflowPrograms, TheTableListsTheRangeClassesTheDamageAndTheResidue) {
  const std::string csv = mDir.mfFile("matrix.csv");
  const ProgramResult run = browse({mA, "-c", "1", "--classes", "16", "--matrix-csv", csv});
  ASSERT_EQ(run.mStatus, 0) << run.mErr;
  EXPECT_EQ(run.mOut.rfind("Rainflow count of channel 1 (Hub:force:+Z, N) of " + mA + "\n", 0), 0u) << run.mOut;
  EXPECT_TRUE(std::regex_search(run.mOut, std::regex("\nbin +range +mean +count +cumulative\n"))) << run.mOut;
  EXPECT_TRUE(std::regex_search(run.mOut, std::regex("\ndamage: k=3 [0-9.e+]+, k=5 [0-9.e+]+\n"))) << run.mOut;
  EXPECT_TRUE(std::regex_search(run.mOut, std::regex("\nresidue: [0-9]+ reversals, [0-9.]+ cycles"))) << run.mOut;
  std::istringstream lines(mfReadFile(csv));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) ++count;
  EXPECT_EQ(count, 17);
}

TEST_F(RainflowPrograms, BadRequestsAreUsageErrors) {
  ProgramResult run = browse({mA, "-c", "3"});
  EXPECT_EQ(run.mStatus, 2);
  EXPECT_NE(run.mErr.find("channel 3 does not exist in " + mA + " (the file has 2 channels)"), std::string::npos)
      << run.mErr;
  run = browse({mA, "-c", "1", "--range", "5,1"});
  EXPECT_EQ(run.mStatus, 2);
  EXPECT_NE(run.mErr.find("lies above its maximum"), std::string::npos) << run.mErr;
  run = browse({mA + ":0", "-c", "1"});
  EXPECT_EQ(run.mStatus, 2);
  EXPECT_NE(run.mErr.find("repetitions must be a finite number above 0"), std::string::npos) << run.mErr;
  run = browse({mA, "-c", "1", "--method", "five-point"});
  EXPECT_EQ(run.mStatus, 2);
}

TEST_F(RainflowPrograms, ThroughAServerTheResultsAreThoseOfTheEmbeddedObjects) {
  const int port = mfFreePort();
  ASSERT_GT(port, 0);
  ChildProcess server({NODRA_SERVER_PATH, "--access-point", "rig=" + mDir.mfFile("rig"), "--port",
                       std::to_string(port)});
  ASSERT_TRUE(server.mfStarted());
  ASSERT_TRUE(mfWaitForServer(NODRA_BROWSE_PATH, port));
  const std::string url = "corbaloc::127.0.0.1:" + std::to_string(port) + "/NodraServer";
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"-c", "1"}, {"-c", "2", "--method", "four-point", "--gate", "0.5"}}) {
    std::vector<std::string> local{mA + ":3", mB}, remote{"rig/a.rsp:3", "rig/b.rsp", "--server", url};
    for (const std::string& option : options) {
      local.push_back(option);
      remote.push_back(option);
    }
    local.push_back("--json");
    remote.push_back("--json");
    const Json embedded = json(local), served = json(remote);
    ASSERT_FALSE(embedded.is_null());
    EXPECT_EQ(served.at("total"), embedded.at("total"));
    EXPECT_EQ(served.at("settings"), embedded.at("settings"));
    EXPECT_EQ(served.at("files")[0].at("file"), "rig/a.rsp");
    // The table too, with the files named as each was asked for.
    local.pop_back();
    remote.pop_back();
    std::string text = browse(local).mOut;
    const std::string directory = mDir.mfFile("rig");
    for (std::size_t at = text.find(directory); at != std::string::npos; at = text.find(directory)) {
      text.replace(at, directory.size(), "rig");
    }
    // Columns are as wide as their widest entry: compare with blanks collapsed.
    const std::regex blanks(" +");
    EXPECT_EQ(std::regex_replace(browse(remote).mOut, blanks, " "), std::regex_replace(text, blanks, " "));
  }
  EXPECT_EQ(server.mfStopAndGetStatus(), 0);
}

TEST_F(RainflowPrograms, TheViewersRouteAnswersTheDocumentOfJson) {
  const std::string log = mDir.mfFile("web.log");
  ChildProcess viewer({NODRA_WEB_PATH, "--access-point", "rig=" + mDir.mfFile("rig"), "--listen", "127.0.0.1:0"},
                      log);
  int port = 0;
  const std::regex url("http://127\\.0\\.0\\.1:([0-9]+)/");
  for (int attempt = 0; attempt < 200 && port == 0; ++attempt) {
    std::smatch match;
    const std::string text = mfReadFile(log);
    if (std::regex_search(text, match, url)) port = std::stoi(match[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  ASSERT_GT(port, 0) << "nodra-web printed no URL";
  httplib::Client client("127.0.0.1", port);
  const auto get = [&](const std::string& target, int& status) {
    const httplib::Result result = client.Get(target.c_str());
    status = result ? result->status : -1;
    return result ? Json::parse(result->body) : Json();
  };
  int status = 0;
  const Json answer = get("/api/rainflow?path=rig/a.rsp:3&path=rig/b.rsp&channel=1&classes=32&gate=2&slope=3,6", status);
  ASSERT_EQ(status, 200) << answer.dump();
  const Json expected =
      json({mA + ":3", mB, "-c", "1", "--classes", "32", "--gate", "2", "--slope", "3,6", "--json"});
  EXPECT_EQ(answer.at("total"), expected.at("total"));
  EXPECT_EQ(answer.at("settings"), expected.at("settings"));
  ASSERT_EQ(answer.at("files").size(), 2u);
  EXPECT_EQ(answer.at("files")[0].at("file"), "rig/a.rsp");
  // Per file, the parts that add: with their repetitions they sum to the total, and each
  // names the version of its file.
  const Json parts =
      get("/api/rainflow?path=rig/a.rsp:3&path=rig/b.rsp&channel=1&classes=32&gate=2&slope=3,6&per_file=1", status);
  ASSERT_EQ(status, 200) << parts.dump();
  std::vector<double> matrix(32 * 32, 0.0), crossings(33, 0.0);
  for (const Json& file : parts.at("files")) {
    EXPECT_FALSE(file.at("version").get<std::string>().empty());
    const double repeats = file.at("repeats").get<double>();
    for (std::size_t i = 0; i < 32; ++i) {
      for (std::size_t j = 0; j < 32; ++j) matrix[i * 32 + j] += repeats * file.at("matrix")[i][j].get<double>();
    }
    for (std::size_t j = 0; j < 33; ++j) crossings[j] += repeats * file.at("crossings")[j].get<double>();
  }
  for (std::size_t i = 0; i < 32; ++i) {
    for (std::size_t j = 0; j < 32; ++j) ASSERT_EQ(matrix[i * 32 + j], parts.at("total").at("matrix")[i][j].get<double>());
  }
  for (std::size_t j = 0; j < 33; ++j) EXPECT_EQ(crossings[j], parts.at("total").at("crossings")[j].at("count").get<double>());

  // The page's panel, in headless Chromium where there is one: it counts the channel named
  // in the hash and shows the damage, labelled as a sum without N_ref.
  const char* browser = nullptr;
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (std::ifstream(candidate)) browser = candidate;
  }
  if (browser) {
    const ProgramResult page = mfRunProgram(
        {browser, "--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + mDir.mfFile("chromium"),
         "--virtual-time-budget=10000", "--dump-dom",
         "http://127.0.0.1:" + std::to_string(port) + "/#file=rig%2Fa.rsp&channels=1&rainflow=1"});
    ASSERT_EQ(page.mStatus, 0) << page.mErr;
    EXPECT_NE(page.mOut.find("data-rainflow=\"drawn\""), std::string::npos) << page.mOut.substr(0, 2000);
    EXPECT_NE(page.mOut.find("damage sum k=3"), std::string::npos);  // no N_ref: a plain sum
    EXPECT_NE(page.mOut.find("Hub:force:+Z [N]"), std::string::npos);
  }

  const struct {
    const char* mTarget;
    int mStatus;
    const char* mError;
  } refusals[] = {
      {"/api/rainflow?channel=1", 400, "parameter \"path\" is required"},
      {"/api/rainflow?path=rig/a.rsp", 400, "parameter \"channel\" is required"},
      {"/api/rainflow?path=rig/a.rsp&channel=1&classes=0", 400, "\"classes\" must be a whole number from 1 to 512"},
      {"/api/rainflow?path=rig/a.rsp&channel=1&range=3", 400, "takes MIN,MAX"},
      {"/api/rainflow?path=rig/a.rsp&channel=1&method=x", 400, "astm or four-point"},
      {"/api/rainflow?path=rig/a.rsp&channel=1&slope=-1", 400, "a slope must be"},
      {"/api/rainflow?path=rig/a.rsp&channel=1&gate=1&gate=2", 400, "given twice"},
      {"/api/rainflow?path=rig/a.rsp&channel=1&bins=3", 400, "unknown parameter \"bins\""},
      {"/api/rainflow?path=rig/a.rsp&path=rig/a.rsp&channel=1", 400, "gives the same value twice"},
      {"/api/rainflow?path=rig/../a.rsp&channel=1", 400, "path \"rig/../a.rsp\""},
      {"/api/rainflow?path=rig/none.rsp&channel=1", 404, "Unable to open"},
      {"/api/rainflow?path=rig/a.rsp&channel=9", 404, "channel 9 does not exist"},
  };
  for (const auto& refusal : refusals) {
    const Json body = get(refusal.mTarget, status);
    EXPECT_EQ(status, refusal.mStatus) << refusal.mTarget << ": " << body.dump();
    EXPECT_NE(body.value("error", "").find(refusal.mError), std::string::npos) << refusal.mTarget << ": " << body.dump();
  }
}

}  // namespace
}  // namespace nodra::test
