// nodra-web end to end: a viewer process on a free loopback port answers each API route on
// files from the test writer (envelopes checked block by block against the written
// samples), refuses bad parameters and paths that lead out of its access point, and its
// page, opened in headless Chromium, lists the channels and draws them; driven over the
// DevTools protocol, it walks a folder tree, reads values off the plot, follows edits of
// its address, and exports what nodra-browse writes (screenshots under
// tests/apps/screenshots of the build tree).

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/HeadlessChromium.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {
namespace {

using Json = nlohmann::json;

constexpr double kSpacing = 1.0 / 1024;  // exact in binary, so every time is too
constexpr std::int64_t kValues = 5000;   // per channel
constexpr std::int64_t kSpike = 3001;    // the one value of channel 1 far above the rest

// Stored samples: whole numbers, so that the scaled values are exact floats.
double wheelSample(int channel, std::int64_t index) {
  if (channel == 1) return index == kSpike ? 30000 : static_cast<double>((index * 7919) % 2001) - 1000;
  if (channel == 2) return static_cast<double>((index * index) % 977) - 400;
  return static_cast<double>(index % 100);
}
const double kScales[] = {0.5, 0.25, 1};

// The value channel `channel` (from 1) holds at `index` (from 1), as the reader gives it.
float wheelValue(int channel, std::int64_t index) {
  return static_cast<float>(wheelSample(channel, index) * kScales[channel - 1]);
}

Rpc3FileLayout wheelLayout() {
  Rpc3FileLayout layout;
  layout.mChannels = 3;
  layout.mPtsPerFrame = 100;
  layout.mFrames = kValues / 100;
  layout.mDeltaT = "0.0009765625";
  // As many writers do: the clock first, and header records that fill their blocks.
  layout.mDate = "11:27:28 30-APR-23";
  layout.mHeaderForm = Rpc3HeaderForm::eFilled;
  layout.mChannelTexts = {{"Hub:force:+Z", "N", "0.5", "-16000", "16000"},
                          {"Damper:travel:+Z", "mm", "0.25", "-100", "100"},
                          {"Speed:S", "km/h", "1", "0", "160"}};
  layout.mSample = wheelSample;
  return layout;
}

// Floats with NaN: value 5 alone, and the whole run 21..30.
bool isGap(std::int64_t index) { return index == 5 || (index >= 21 && index <= 30); }
Rpc3FileLayout gapLayout() {
  Rpc3FileLayout layout;
  layout.mFloat = true;
  layout.mPtsPerFrame = 16;
  layout.mFrames = 4;
  layout.mSample = [](int, std::int64_t index) {
    return isGap(index) ? std::numeric_limits<double>::quiet_NaN() : 0.25 * static_cast<double>(index);
  };
  return layout;
}

// One viewer for the whole suite, over access point "t": wheel.rsp and gaps.rsp, sub/deep.rsp,
// cut.rsp (its values end early) and link.rsp, a link to outside.rsp beside the access
// point's directory.
class WebViewer : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    sDir = new ScratchDir;
    const Bytes wheel = mfBuildRpc3File(wheelLayout());
    sDir->mfWriteFile("ap/wheel.rsp", wheel);
    sDir->mfWriteFile("ap/gaps.rsp", mfBuildRpc3File(gapLayout()));
    sDir->mfWriteFile("ap/sub/deep.rsp", wheel);
    sDir->mfWriteFile("ap/cut.rsp", mfTruncate(wheel, wheel.size() / 2));
    sDir->mfWriteFile("outside.rsp", wheel);
    std::filesystem::create_symlink("../outside.rsp", sDir->mfFile("ap/link.rsp"));
    sLog = sDir->mfFile("web.log");
    sViewer = new ChildProcess({NODRA_WEB_PATH, "--access-point", "t=" + sDir->mfFile("ap"), "--listen",
                                "127.0.0.1:0"},
                               sLog);
    sUrl = waitForUrl();
  }
  static void TearDownTestSuite() {
    delete sViewer;
    delete sDir;
  }

  // The URL the viewer prints once it listens.
  static std::string waitForUrl() {
    const std::regex url("http://127\\.0\\.0\\.1:([0-9]+)/");
    for (int attempt = 0; attempt < 200; ++attempt) {
      std::smatch match;
      const std::string log = mfReadFile(sLog);
      if (std::regex_search(log, match, url)) {
        sPort = std::stoi(match[1]);
        return match[0];
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return "";
  }

  void SetUp() override { ASSERT_FALSE(sUrl.empty()) << "nodra-web printed no URL"; }

  // GET `target`; the status, and the body as JSON.
  static Json mfGet(const std::string& target, int& status) {
    httplib::Client client("127.0.0.1", sPort);
    const httplib::Result result = client.Get(target.c_str());
    if (!result) {
      status = -1;
      return Json();
    }
    status = result->status;
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json") << target;
    return Json::parse(result->body);
  }
  static Json mfGetOk(const std::string& target) {
    int status = 0;
    Json body = mfGet(target, status);
    EXPECT_EQ(status, 200) << target << ": " << body.dump();
    return body;
  }

  static ScratchDir* sDir;
  static ChildProcess* sViewer;
  static std::string sLog, sUrl;
  static int sPort;
};

ScratchDir* WebViewer::sDir = nullptr;
ChildProcess* WebViewer::sViewer = nullptr;
std::string WebViewer::sLog, WebViewer::sUrl;
int WebViewer::sPort = 0;

// The window of `channel` from value `start`, `count` values in blocks of `block`, checked
// point by point against the written values.
void expectEnvelope(const Json& reply, int channel, std::int64_t start, std::int64_t count, std::int64_t block) {
  ASSERT_EQ(reply.at("window"), (Json{{"start", start}, {"count", count}, {"block_size", block}}));
  ASSERT_EQ(reply.at("kind"), block == 1 ? "raw" : "envelope");
  const std::int64_t points = (count + block - 1) / block;
  ASSERT_EQ(reply.at("time").size(), static_cast<std::size_t>(points));
  for (std::int64_t k = 0; k < points; ++k) {
    const std::int64_t first = start + k * block;
    const std::int64_t last = std::min(first + block, start + count) - 1;
    EXPECT_EQ(reply.at("time")[k].get<double>(), static_cast<double>(first - 1) * kSpacing) << k;
    float low = wheelValue(channel, first), high = low;
    for (std::int64_t i = first; i <= last; ++i) {
      low = std::min(low, wheelValue(channel, i));
      high = std::max(high, wheelValue(channel, i));
    }
    if (block == 1) {
      EXPECT_EQ(reply.at("value")[k].get<float>(), low) << "value " << first;
    } else {
      EXPECT_EQ(reply.at("min")[k].get<float>(), low) << "block " << k;
      EXPECT_EQ(reply.at("max")[k].get<float>(), high) << "block " << k;
    }
  }
}

TEST_F(WebViewer, FilesAreListedPerAccessPointWithThePathsTheOtherRoutesTake) {
  const Json top = mfGetOk("/api/files");
  ASSERT_EQ(top.at("access_points").size(), 1u);
  const Json& point = top.at("access_points")[0];
  EXPECT_EQ(point.at("name"), "t");
  EXPECT_EQ(point.at("directory"), "");
  std::vector<std::string> paths;
  for (const Json& file : point.at("files")) {
    EXPECT_EQ("t/" + file.at("name").get<std::string>(), file.at("path"));
    paths.push_back(file.at("path"));
  }
  // Sorted; the cut file still starts like one; the link leads out and the directory is none.
  EXPECT_EQ(paths, (std::vector<std::string>{"t/cut.rsp", "t/gaps.rsp", "t/wheel.rsp"}));
  EXPECT_EQ(point.at("directories"), (Json::array({{{"name", "sub"}, {"path", "t/sub"}}})));

  EXPECT_EQ(mfGetOk("/api/files?dir=t/sub").at("access_points")[0].at("files"),
            (Json::array({{{"name", "deep.rsp"}, {"path", "t/sub/deep.rsp"}}})));
  int status = 0;
  EXPECT_NE(mfGet("/api/files?dir=x", status).at("error").get<std::string>().find("Unknown access point"),
            std::string::npos);
  EXPECT_EQ(status, 404);
  EXPECT_NE(mfGet("/api/files?dir=t/..", status).at("error").get<std::string>().find("\"..\""), std::string::npos);
  EXPECT_EQ(status, 400);
}

TEST_F(WebViewer, AFileIsTheSameDocumentAsTheBrowsersJson) {
  const Json file = mfGetOk("/api/file?path=t/sub/deep.rsp");
  EXPECT_EQ(file.at("path"), "t/sub/deep.rsp");
  const ProgramResult browse = mfRunProgram({NODRA_BROWSE_PATH, "--json", sDir->mfFile("ap/sub/deep.rsp")});
  ASSERT_EQ(browse.mStatus, 0) << browse.mErr;
  Json expected = Json::parse(browse.mOut);
  EXPECT_EQ(file.at("file"), expected.at("file"));
  EXPECT_EQ(file.at("channels"), expected.at("channels"));
  EXPECT_EQ(file.at("channels")[1].at("values"), (Json{{"count", kValues}, {"first", 0.0}, {"spacing", kSpacing}}));
}

TEST_F(WebViewer, EachEnvelopeBlockHoldsTheMinimumAndMaximumOfItsValues) {
  // The whole channel in 64 points: blocks of 79 values, the last one of 23.
  Json whole = mfGetOk("/api/channel?path=t/wheel.rsp&channel=1&width=64");
  EXPECT_EQ(whole.at("channel"), 1);
  EXPECT_EQ(whole.at("label"), "Hub:force:+Z");
  EXPECT_EQ(whole.at("unit"), "N");
  EXPECT_EQ(whole.at("count"), kValues);
  EXPECT_EQ(whole.at("spacing"), kSpacing);
  expectEnvelope(whole, 1, 1, kValues, 79);
  double top = -1;
  for (const Json& high : whole.at("max")) top = std::max(top, high.get<double>());
  EXPECT_EQ(top, 15000);  // the spike

  // A window between two values' times, and one bounded exactly by them (both included).
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=2&from=1.2501&to=3.5&width=100"), 2,
                 1282, 3585 - 1282 + 1, 24);
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=1&from=1.25&to=3.5&width=1000"), 1,
                 1281, 3585 - 1281 + 1, 3);
  // The default width is 1000 points.
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=3"), 3, 1, kValues, 5);
}

TEST_F(WebViewer, ANarrowWindowGivesTheValuesThemselvesExactly) {
  // 64 values for 64 points: raw; 65: two per block.
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=1&from=2.9296875&to=2.9912109375&width=64"), 1,
                 3001, 64, 1);
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=1&from=2.9296875&to=2.9921875&width=64"), 1,
                 3001, 65, 2);
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=2&from=0&to=0&width=1"), 2, 1, 1, 1);
}

TEST_F(WebViewer, WindowsBeyondTheChannelAreClipped) {
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=2&from=-1e300&to=1e300&width=4096"), 2, 1,
                 kValues, 2);
  expectEnvelope(mfGetOk("/api/channel?path=t/wheel.rsp&channel=2&from=4.8&width=4096"), 2, 4917, 84, 1);
  const Json after = mfGetOk("/api/channel?path=t/wheel.rsp&channel=2&from=10&to=11");
  EXPECT_EQ(after.at("window").at("count"), 0);
  EXPECT_TRUE(after.at("time").empty());
  EXPECT_TRUE(after.at("value").empty());
}

TEST_F(WebViewer, NanValuesAreGapsAndBlocksOfNothingElseAreNull) {
  const Json raw = mfGetOk("/api/channel?path=t/gaps.rsp&channel=1&to=0.007");
  ASSERT_EQ(raw.at("value").size(), 8u);
  EXPECT_TRUE(raw.at("value")[4].is_null());
  EXPECT_EQ(raw.at("value")[5], 1.5);
  // Blocks of 10: 1..10 has a NaN left out, 21..30 is nothing but NaN.
  const Json blocks = mfGetOk("/api/channel?path=t/gaps.rsp&channel=1&width=7");
  ASSERT_EQ(blocks.at("window").at("block_size"), 10);
  EXPECT_EQ(blocks.at("min")[0], 0.25);
  EXPECT_EQ(blocks.at("max")[0], 2.5);
  EXPECT_TRUE(blocks.at("min")[2].is_null());
  EXPECT_TRUE(blocks.at("max")[2].is_null());
  EXPECT_EQ(blocks.at("max")[6], 16.0);
}

TEST_F(WebViewer, BadParametersAreRefusedWithAMessageBeforeAnyFileIsOpened) {
  const std::string channel = "/api/channel?path=t/wheel.rsp";
  const std::pair<std::string, std::string> cases[] = {
      {"/api/channel?channel=1", "\"path\" is required"},
      {"/api/channel?path=&channel=1", "\"path\" is required"},
      {channel, "\"channel\" is required"},
      {channel + "&channel=0", "whole number from 1"},
      {channel + "&channel=1.5", "whole number from 1"},
      {channel + "&channel=-1", "whole number from 1"},
      {channel + "&channel=99999999999", "whole number from 1"},
      {channel + "&channel=1&width=0", "\"width\" must be a whole number from 1 to 4096"},
      {channel + "&channel=1&width=4097", "from 1 to 4096"},
      {channel + "&channel=1&width=12px", "from 1 to 4096"},
      {channel + "&channel=1&from=abc", "finite number of seconds"},
      {channel + "&channel=1&from=1s", "finite number of seconds"},
      {channel + "&channel=1&to=nan", "finite number of seconds"},
      {channel + "&channel=1&to=inf", "finite number of seconds"},
      {channel + "&channel=1&from=1e999", "finite number of seconds"},
      {channel + "&channel=1&from=%201", "finite number of seconds"},
      {channel + "&channel=1&from=2&to=1", "lies after to"},
      {channel + "&channel=1&channel=2", "\"channel\" is given twice"},
      {channel + "&channel=1&widht=10", "unknown parameter \"widht\""},
      {"/api/file", "\"path\" is required"},
      {"/api/stats?path=t/wheel.rsp&channel=1,,2", "whole number from 1"},
      {"/api/stats?path=t/wheel.rsp&channel=1,2,1", "channel 1 is named more than once"},
      {"/api/stats?path=t/wheel.rsp&from=2&to=1", "lies after to"},
      {"/api/rainflow?path=t/wheel.rsp&channel=1&format=xml", "must be json or matrix-csv"},
      {"/api/values?path=t/wheel.rsp", "\"channel\" is required"},
      {"/api/values?path=t/wheel.rsp&channel=1,3,1", "channel 1 is named more than once"},
      {"/api/values?path=t/wheel.rsp&channel=1&format=xml", "must be raw, npy or csv"},
      {"/api/values?path=t/wheel.rsp&channel=1&start=0", "\"start\" must be a whole number from 1"},
      {"/api/values?path=t/wheel.rsp&channel=1&start=5001", "start 5001 lies beyond the last value (5000)"},
      {"/api/values?path=t/wheel.rsp&channel=1&start=2&from=1", "by number (start, count) or by time"},
      {"/api/values?path=t/wheel.rsp&channel=1&from=2&to=1", "lies after to"},
  };
  {
    httplib::Client client("127.0.0.1", sPort);
    const httplib::Result ranged =
        client.Get("/api/values?path=t/wheel.rsp&channel=1&format=raw", {{"Range", "bytes=4-7"}});
    ASSERT_TRUE(ranged);
    EXPECT_EQ(ranged->status, 400);
  }
  for (const auto& [target, message] : cases) {
    int status = 0;
    const Json body = mfGet(target, status);
    EXPECT_EQ(status, 400) << target;
    EXPECT_NE(body.value("error", "").find(message), std::string::npos) << target << ": " << body.dump();
  }
}

TEST_F(WebViewer, NoPathLeadsOutOfTheAccessPoint) {
  // Names that could climb out are refused as malformed; none reaches the data server.
  for (const char* path : {"../outside.rsp", "t/../outside.rsp", "t/../../outside.rsp", "t/./wheel.rsp",
                           "t//wheel.rsp", "t/sub/", "%2Ftmp%2Foutside.rsp", "t%5C..%5Coutside.rsp",
                           "t%2F..%2Foutside.rsp", "t/wheel.rsp%00.txt", "wheel.rsp"}) {
    for (const std::string route : {"/api/file?path=", "/api/channel?channel=1&path=", "/api/stats?path=",
                                    "/api/values?channel=1&path="}) {
      int status = 0;
      const Json body = mfGet(route + path, status);
      EXPECT_EQ(status, 400) << route << path;
      EXPECT_TRUE(body.contains("error")) << route << path;
      EXPECT_FALSE(body.contains("channels") || body.contains("time")) << route << path;
    }
  }
  // A link inside that leads out is refused by the data server.
  int status = 0;
  const Json link = mfGet("/api/file?path=t/link.rsp", status);
  EXPECT_EQ(status, 404) << link.dump();
  // So are names it does not have.
  for (const char* target : {"/api/file?path=t/none.rsp", "/api/file?path=x/wheel.rsp",
                             "/api/channel?path=t/wheel.rsp&channel=4", "/api/values?path=t/wheel.rsp&channel=2,4"}) {
    const Json body = mfGet(target, status);
    EXPECT_EQ(status, 404) << target;
    EXPECT_TRUE(body.contains("error")) << target;
  }
  EXPECT_NE(mfGet("/api/channel?path=t/wheel.rsp&channel=4", status).at("error").get<std::string>().find(
                "channel 4 does not exist (the file has 3 channels)"),
            std::string::npos);
}

// The little-endian float32 bytes of the written values [first, first + count) of `channels`,
// one channel after another.
std::string float32Bytes(const std::vector<int>& channels, std::int64_t first, std::int64_t count) {
  std::string bytes;
  for (int channel : channels) {
    for (std::int64_t i = first; i < first + count; ++i) {
      const float value = wheelValue(channel, i);
      std::uint32_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      for (int b = 0; b < 4; ++b) bytes += static_cast<char>((bits >> (8 * b)) & 0xFF);
    }
  }
  return bytes;
}

TEST_F(WebViewer, ValuesStreamAsFloat32NpyOrCsvByNumberOrByTime) {
  // The NPY header of a 2-D answer, in Fortran order: its data are the float32 answer's.
  const std::string npy2 = "{'descr': '<f4', 'fortran_order': True, 'shape': (70, 2), }";
  const std::string npy1 = "{'descr': '<f4', 'fortran_order': False, 'shape': (5000,), }";
  const struct {
    std::string query;  // after path=t/wheel.rsp
    std::string accept;
    std::string type;
    std::vector<int> channels;
    std::int64_t start, count;
    std::string header;  // "" raw; else the NPY header's dictionary
  } rows[] = {
      {"&channel=2&format=raw", "", "application/octet-stream", {2}, 1, kValues, ""},
      {"&channel=1", "application/octet-stream", "application/octet-stream", {1}, 1, kValues, ""},
      {"&channel=3,1&start=4990&count=100", "application/octet-stream", "application/octet-stream", {3, 1}, 4990, 11, ""},
      {"&channel=1,2&from=1.25&to=1.3174&format=npy", "", "application/x-npy", {1, 2}, 1281, 70, npy2},
      {"&channel=2", "application/x-npy", "application/x-npy", {2}, 1, kValues, npy1},
      {"&channel=2&count=0&format=raw", "", "application/octet-stream", {2}, 1, 0, ""},
      {"&channel=2&from=10&format=raw", "", "application/octet-stream", {2}, 1, 0, ""},
  };
  httplib::Client client("127.0.0.1", sPort);
  for (const auto& row : rows) {
    const std::string target = "/api/values?path=t/wheel.rsp" + row.query;
    httplib::Headers headers;
    if (!row.accept.empty()) headers.emplace("Accept", row.accept);
    const httplib::Result result = client.Get(target.c_str(), headers);
    ASSERT_TRUE(result) << target;
    ASSERT_EQ(result->status, 200) << target << ": " << result->body;
    EXPECT_EQ(result->get_header_value("Content-Type"), row.type) << target;
    // Streamed with their length, so that a client sees an answer cut short.
    EXPECT_EQ(result->get_header_value("Content-Length"), std::to_string(result->body.size())) << target;
    EXPECT_EQ(result->get_header_value("X-Nodra-Count"), std::to_string(row.count)) << target;
    if (row.count > 0) {
      EXPECT_EQ(result->get_header_value("X-Nodra-Start"), std::to_string(row.start)) << target;
      EXPECT_EQ(std::stod(result->get_header_value("X-Nodra-First-Time")), static_cast<double>(row.start - 1) * kSpacing);
    }
    EXPECT_EQ(std::stod(result->get_header_value("X-Nodra-Spacing")), kSpacing) << target;
    std::string body = result->body;
    if (!row.header.empty()) {
      ASSERT_GT(body.size(), 10u) << target;
      EXPECT_EQ(body.substr(0, 8), std::string("\x93NUMPY\x01\x00", 8)) << target;
      EXPECT_EQ(body.substr(10, row.header.size()), row.header) << target;
      const std::size_t headerSize = 10 + static_cast<unsigned char>(body[8]) + 256u * static_cast<unsigned char>(body[9]);
      EXPECT_EQ(headerSize % 64, 0u) << target;
      EXPECT_EQ(body[headerSize - 1], '\n') << target;
      body.erase(0, headerSize);
    }
    EXPECT_TRUE(body == float32Bytes(row.channels, row.start, row.count)) << target;
  }

  // CSV, the default form: what nodra-browse dump writes, byte for byte.
  const struct {
    std::string query;
    std::vector<std::string> dumpArguments;
  } csvRows[] = {
      {"&channel=1,3&start=2999&count=5", {"--channel", "1,3", "--start", "2999", "--count", "5"}},
      {"&channel=2&from=4.87&format=csv", {"--channel", "2", "--from", "4.87"}},
      {"&channel=3&count=0", {"--channel", "3", "--count", "0"}},
  };
  for (const auto& row : csvRows) {
    const std::string target = "/api/values?path=t/wheel.rsp" + row.query;
    const httplib::Result result = client.Get(target.c_str());
    ASSERT_TRUE(result) << target;
    ASSERT_EQ(result->status, 200) << target << ": " << result->body;
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/csv; charset=utf-8");
    EXPECT_EQ(result->get_header_value("Transfer-Encoding"), "chunked") << target;
    std::vector<std::string> dump{NODRA_BROWSE_PATH, "dump", sDir->mfFile("ap/wheel.rsp")};
    dump.insert(dump.end(), row.dumpArguments.begin(), row.dumpArguments.end());
    const ProgramResult browse = mfRunProgram(dump);
    ASSERT_EQ(browse.mStatus, 0) << browse.mErr;
    EXPECT_EQ(result->body, browse.mOut) << target;
  }
}

TEST_F(WebViewer, AValuesRequestBeyondTheLimitIsRefusedBeforeAnyValueIsRead) {
  const std::string log = sDir->mfFile("limited.log");
  ChildProcess viewer({NODRA_WEB_PATH, "--access-point", "t=" + sDir->mfFile("ap"), "--listen", "127.0.0.1:0",
                       "--max-values", "9999"},
                      log);
  const std::regex url("http://127\\.0\\.0\\.1:([0-9]+)/");
  std::smatch match;
  std::string printed;
  for (int wait = 0; wait < 200 && !std::regex_search(printed, match, url); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    printed = mfReadFile(log);
  }
  ASSERT_TRUE(std::regex_search(printed, match, url)) << printed;
  httplib::Client client("127.0.0.1", std::stoi(match[1]));
  const struct {
    const char* query;
    int status;
  } rows[] = {
      {"&channel=1,2", 413},                  // 10 000 values
      {"&channel=1", 200},                    // 5 000
      {"&channel=1,2&start=2&format=raw", 200},  // 9 998
      {"&channel=1,2,3&count=3334", 413},     // 10 002
  };
  for (const auto& row : rows) {
    const std::string target = std::string("/api/values?path=t/wheel.rsp") + row.query;
    const httplib::Result result = client.Get(target.c_str());
    ASSERT_TRUE(result) << target;
    EXPECT_EQ(result->status, row.status) << target;
    if (row.status == 413) {
      EXPECT_NE(Json::parse(result->body).at("error").get<std::string>().find("at most 9999"), std::string::npos);
    }
  }
}

TEST_F(WebViewer, ValuesTheFileDoesNotHoldAreADataError) {
  int status = 0;
  const Json body = mfGet("/api/channel?path=t/cut.rsp&channel=1&from=4&width=10", status);
  EXPECT_EQ(status, 422) << body.dump();
  EXPECT_FALSE(body.value("error", "").empty());
  EXPECT_FALSE(body.value("reason", "").empty());
  // The part that is there still reads.
  mfGetOk("/api/channel?path=t/cut.rsp&channel=1&to=0.1");
}

TEST_F(WebViewer, StatsAreThoseOfTheWrittenValues) {
  const Json stats = mfGetOk("/api/stats?path=t/wheel.rsp&channel=3,1");
  ASSERT_EQ(stats.at("channels").size(), 2u);
  const Json& speed = stats.at("channels")[0];
  EXPECT_EQ(speed.at("number"), 3);
  EXPECT_EQ(speed.at("count"), kValues);
  EXPECT_EQ(speed.at("nan"), 0);
  EXPECT_EQ(speed.at("min"), 0.0);
  EXPECT_EQ(speed.at("max"), 99.0);
  EXPECT_DOUBLE_EQ(speed.at("mean").get<double>(), 49.5);  // 50 whole runs of 0..99
  EXPECT_DOUBLE_EQ(speed.at("rms").get<double>(), std::sqrt(328350.0 / 100));
  EXPECT_EQ(stats.at("channels")[1].at("max"), 15000.0);
  EXPECT_EQ(mfGetOk("/api/stats?path=t/gaps.rsp").at("channels")[0].at("nan"), 11);
  // A window: values 1..10, each channel by its own times (both ends included).
  const Json window = mfGetOk("/api/stats?path=t/wheel.rsp&channel=3,2&from=0&to=0.0087890625");
  EXPECT_EQ(window.at("from"), 0.0);
  const Json& first = window.at("channels")[0];
  EXPECT_EQ(first.at("count"), 10);
  EXPECT_EQ(first.at("min"), 1.0);
  EXPECT_EQ(first.at("max"), 10.0);
  EXPECT_DOUBLE_EQ(first.at("mean").get<double>(), 5.5);
  EXPECT_EQ(window.at("channels")[1].at("count"), 10);
  EXPECT_EQ(mfGetOk("/api/stats?path=t/wheel.rsp&channel=3&from=9").at("channels")[0].at("count"), 0);
}

TEST_F(WebViewer, ThePageAndItsPlotLibraryAreServedAndUnknownRoutesAreJson) {
  httplib::Client client("127.0.0.1", sPort);
  for (const auto& [target, type] : {std::pair<std::string, std::string>{"/", "text/html"},
                                     {"/viewer.js", "javascript"},
                                     {"/uPlot.iife.min.js", "javascript"},
                                     {"/uPlot.min.css", "text/css"}}) {
    const httplib::Result result = client.Get(target.c_str());
    ASSERT_TRUE(result) << target;
    EXPECT_EQ(result->status, 200) << target;
    EXPECT_NE(result->get_header_value("Content-Type").find(type), std::string::npos) << target;
    EXPECT_FALSE(result->body.empty()) << target;
  }
  // The program lies beside its page files: out of reach.
  for (const char* target : {"/../nodra-web", "/%2e%2e/nodra-web"}) {
    const httplib::Result outside = client.Get(target);
    ASSERT_TRUE(outside) << target;
    EXPECT_NE(outside->status, 200) << target;
  }
  int status = 0;
  EXPECT_EQ(mfGet("/api/nothing", status).at("error"), "no such route: /api/nothing");
  EXPECT_EQ(status, 404);
}

TEST_F(WebViewer, AViewerOfARemoteServerAnswersAsTheEmbeddedOneAndAfterTheServerRestarts) {
  const int corbaPort = mfFreePort();
  ASSERT_GT(corbaPort, 0);
  const std::vector<std::string> serverArgs = {NODRA_SERVER_PATH, "--access-point", "t=" + sDir->mfFile("ap"),
                                               "--port", std::to_string(corbaPort)};
  auto server = std::make_unique<ChildProcess>(serverArgs);
  ASSERT_TRUE(server->mfStarted());
  // The viewer checks the server when it starts: retry until the server listens.
  const std::string log = sDir->mfFile("remote.log");
  const std::regex url("http://127\\.0\\.0\\.1:([0-9]+)/");
  int port = 0;
  for (int attempt = 0; attempt < 50 && port == 0; ++attempt) {
    ChildProcess viewer({NODRA_WEB_PATH, "--server", "corbaloc::127.0.0.1:" + std::to_string(corbaPort) + "/NodraServer",
                         "--listen", "127.0.0.1:0"},
                        log);
    for (int wait = 0; wait < 100 && port == 0; ++wait) {
      const std::string printed = mfReadFile(log);
      std::smatch match;
      if (std::regex_search(printed, match, url)) port = std::stoi(match[1]);
      if (printed.find("cannot reach") != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (port == 0) continue;
    httplib::Client remote("127.0.0.1", port);
    for (const char* target : {"/api/files", "/api/file?path=t/wheel.rsp",
                               "/api/channel?path=t/wheel.rsp&channel=1&from=1&to=4&width=300",
                               "/api/channel?path=t/gaps.rsp&channel=1", "/api/file?path=t/link.rsp",
                               "/api/channel?path=t/cut.rsp&channel=1&from=4&width=10"}) {
      int status = 0;
      const Json embedded = mfGet(target, status);
      const httplib::Result answer = remote.Get(target);
      ASSERT_TRUE(answer) << target;
      EXPECT_EQ(answer->status, status) << target;
      EXPECT_EQ(Json::parse(answer->body), embedded) << target;
    }
    // The viewer's connection dies with the server; its first request after a restart is
    // answered all the same.
    EXPECT_EQ(server->mfStopAndGetStatus(), 0);
    server = std::make_unique<ChildProcess>(serverArgs);
    ASSERT_TRUE(mfWaitForServer(NODRA_BROWSE_PATH, corbaPort));
    const httplib::Result afterRestart = remote.Get("/api/file?path=t/wheel.rsp");
    ASSERT_TRUE(afterRestart);
    EXPECT_EQ(afterRestart->status, 200) << afterRestart->body;
  }
  EXPECT_GT(port, 0) << "no viewer of the server printed its URL";
  EXPECT_EQ(server->mfStopAndGetStatus(), 0);
}

// CSV for spreadsheets of decimal-comma locales; the style belongs to CSV answers only.
TEST_F(WebViewer, CsvValuesTakeADelimiterAndADecimalComma) {
  httplib::Client client("127.0.0.1", sPort);
  const httplib::Result csv =
      client.Get("/api/values?path=t/wheel.rsp&channel=1&start=2&count=1&format=csv&delimiter=%09&decimal=comma");
  ASSERT_TRUE(csv);
  EXPECT_EQ(csv->status, 200) << csv->body;
  const std::string row = csv->body.substr(csv->body.find('\n') + 1);
  EXPECT_NE(row.find('\t'), std::string::npos) << row;
  EXPECT_EQ(row.find('.'), std::string::npos) << row;
  for (const char* target : {"/api/values?path=t/wheel.rsp&channel=1&format=float32&decimal=comma",
                             "/api/values?path=t/wheel.rsp&channel=1&format=csv&delimiter=,&decimal=comma",
                             "/api/values?path=t/wheel.rsp&channel=1&format=csv&decimal=yes"}) {
    const httplib::Result refused = client.Get(target);
    ASSERT_TRUE(refused) << target;
    EXPECT_EQ(refused->status, 400) << target;
  }
}

TEST_F(WebViewer, InHeadlessChromiumThePageListsTheChannelsAndDrawsThePlot) {
  const std::string browser = mfChromiumPath();
  if (browser.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps installs it)";
  const std::string page = sUrl + "#file=t%2Fwheel.rsp&channels=1,3";
  // As root (in CI) Chromium runs only without its sandbox. Virtual time lets the page's
  // requests and drawing finish before the DOM is taken.
  const std::vector<std::string> common = {browser, "--headless", "--no-sandbox", "--disable-gpu",
                                           "--hide-scrollbars", "--user-data-dir=" + sDir->mfFile("chromium"),
                                           "--virtual-time-budget=10000", "--window-size=1200,800"};
  std::vector<std::string> dump = common;
  dump.insert(dump.end(), {"--dump-dom", page});
  const ProgramResult run = mfRunProgram(dump);
  ASSERT_EQ(run.mStatus, 0) << run.mErr;
  std::smatch body;
  ASSERT_TRUE(std::regex_search(run.mOut, body, std::regex("<body[^>]*>"))) << run.mOut;
  const std::string tag = body[0];
  EXPECT_NE(tag.find("data-state=\"drawn\""), std::string::npos) << tag;
  EXPECT_NE(tag.find("data-channels=\"3\""), std::string::npos) << tag;
  EXPECT_NE(tag.find("data-plotted=\"2\""), std::string::npos) << tag;
  std::smatch ink;
  ASSERT_TRUE(std::regex_search(tag, ink, std::regex("data-ink=\"([0-9]+)\""))) << tag;
  EXPECT_GT(std::stoi(ink[1]), 1000) << "the plot's canvas holds (almost) no channel";
  EXPECT_NE(run.mOut.find("t/wheel.rsp: 3 channels"), std::string::npos);
  EXPECT_NE(run.mOut.find("Damper:travel:+Z"), std::string::npos);
  EXPECT_NE(run.mOut.find("11:27:28 30-APR-23 (2023-04-30T11:27:28)"), std::string::npos);

  const std::string shot = std::string(NODRA_TEST_OUTPUT_DIR) + "/web-viewer.png";
  std::filesystem::remove(shot);
  std::vector<std::string> screenshot = common;
  screenshot.insert(screenshot.end(), {"--screenshot=" + shot, page});
  const ProgramResult taken = mfRunProgram(screenshot);
  ASSERT_EQ(taken.mStatus, 0) << taken.mErr;
  std::ifstream png(shot, std::ios::binary);
  char signature[8] = {};
  png.read(signature, sizeof signature);
  EXPECT_EQ(std::string(signature, sizeof signature), std::string("\x89PNG\r\n\x1a\n", 8)) << shot;
}

// The page in one headless Chromium for the suite, over access point "n" whose files all
// lie in folders: 2025/run-04.rsp (the wheel file), 2025/march/run-01.rsp (10 channels) and
// big/long.rsp (one channel of 4 Mi values).
class WebPage : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    sDir = new ScratchDir;
    sDir->mfWriteFile("ap/2025/run-04.rsp", mfBuildRpc3File(wheelLayout()));
    Rpc3FileLayout many;
    many.mChannels = 10;
    many.mFrames = 8;
    many.mSample = [](int channel, std::int64_t index) { return channel * 100.0 + static_cast<double>(index % 16); };
    sDir->mfWriteFile("ap/2025/march/run-01.rsp", mfBuildRpc3File(many));
    Rpc3FileLayout big;
    big.mPtsPerFrame = 1024;
    big.mFrames = 4096;
    big.mSample = [](int, std::int64_t index) { return static_cast<double>((index * 7919) % 20001) - 10000; };
    sDir->mfWriteFile("ap/big/long.rsp", mfBuildRpc3File(big));
    sViewer = new ChildProcess({NODRA_WEB_PATH, "--access-point", "n=" + sDir->mfFile("ap"), "--listen",
                                "127.0.0.1:0"},
                               sDir->mfFile("web.log"));
    const std::regex url("http://127\\.0\\.0\\.1:([0-9]+)/");
    for (int attempt = 0; attempt < 200 && sUrl.empty(); ++attempt) {
      std::smatch match;
      const std::string log = mfReadFile(sDir->mfFile("web.log"));
      if (std::regex_search(log, match, url)) {
        sUrl = match[0];
        sPort = std::stoi(match[1]);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    std::filesystem::create_directories(NODRA_SCREENSHOT_DIR);
    if (!mfChromiumPath().empty()) sPage = new CHeadlessChromium(mfChromiumPath(), sDir->mfFile("profile"), 1280, 800);
  }
  static void TearDownTestSuite() {
    delete sPage;
    delete sViewer;
    delete sDir;
  }
  void SetUp() override {
    if (!sPage) GTEST_SKIP() << "chromium is not installed (scripts/install-deps installs it)";
    ASSERT_FALSE(sUrl.empty()) << "nodra-web printed no URL";
    ASSERT_TRUE(sPage->mfStarted()) << sPage->mfLastError();
  }

  // Opens the page at `hash` and waits until it has drawn.
  static void mpOpenDrawn(const std::string& hash) {
    sPage->mpOpen("about:blank");
    sPage->mpOpen(sUrl + hash);
    ASSERT_TRUE(sPage->mfWaitUntil("document.body.dataset.state === 'drawn'")) << hash << ": " << text("#status");
  }
  static Json run(const std::string& script) { return sPage->mfEvaluate(script); }
  static std::string text(const std::string& selector) {
    const Json value = run("document.querySelector('" + selector + "')?.textContent");
    return value.is_string() ? value.get<std::string>() : "";
  }
  static void mpScreenshot(const std::string& name) {
    EXPECT_TRUE(sPage->mfScreenshot(std::string(NODRA_SCREENSHOT_DIR) + "/" + name)) << sPage->mfLastError();
  }
  // The body of GET `target` (a page link, relative to the page) and its status.
  static httplib::Result get(const std::string& target) {
    httplib::Client client("127.0.0.1", sPort);
    return client.Get(("/" + target).c_str());
  }

  static ScratchDir* sDir;
  static ChildProcess* sViewer;
  static CHeadlessChromium* sPage;
  static std::string sUrl;
  static int sPort;
};

ScratchDir* WebPage::sDir = nullptr;
ChildProcess* WebPage::sViewer = nullptr;
CHeadlessChromium* WebPage::sPage = nullptr;
std::string WebPage::sUrl;
int WebPage::sPort = 0;

TEST_F(WebPage, TheFolderTreeOpensFoldersWhenAskedAndFindsFilesByName) {
  sPage->mpOpen(sUrl);
  ASSERT_TRUE(sPage->mfWaitUntil("document.body.dataset.state === 'listed'"));
  const std::string links = "[...document.querySelectorAll('#tree a')].map((a) => a.dataset.path).join(' ')";
  const std::string folders = "[...document.querySelectorAll('#tree button')].map((b) => b.dataset.dir).join(' ')";
  // Only the top: two closed folders, no files, and no "no files".
  EXPECT_EQ(run(folders), "n/2025 n/big");
  EXPECT_EQ(run(links), "");
  EXPECT_EQ(text("#tree").find("no files"), std::string::npos);
  run("document.querySelector('[data-dir=\"n/2025\"]').click()");
  ASSERT_TRUE(sPage->mfWaitUntil("!!document.querySelector('[data-dir=\"n/2025/march\"]')"));
  EXPECT_EQ(run(links), "n/2025/run-04.rsp");
  run("document.querySelector('[data-dir=\"n/2025/march\"]').click()");
  ASSERT_TRUE(sPage->mfWaitUntil("document.querySelectorAll('#tree a').length === 2"));
  run("document.querySelector('[data-path=\"n/2025/march/run-01.rsp\"]').click()");
  ASSERT_TRUE(sPage->mfWaitUntil("document.body.dataset.state === 'drawn'"));
  EXPECT_EQ(run("location.hash"), "#file=n%2F2025%2Fmarch%2Frun-01.rsp&channels=1");
  // Ten channels fold their table away.
  EXPECT_EQ(run("document.getElementById('channel-list').open"), false);
  mpScreenshot("file-tree.png");

  run("const find = document.getElementById('find'); find.value = 'RUN-0'; find.dispatchEvent(new Event('input'))");
  ASSERT_TRUE(sPage->mfWaitUntil("document.querySelectorAll('#found a').length > 0"));
  EXPECT_EQ(run("[...document.querySelectorAll('#found a')].map((a) => a.dataset.path).join(' ')"),
            "n/2025/run-04.rsp n/2025/march/run-01.rsp");
  // A file named in the address opens the folders on its way.
  mpOpenDrawn("#file=n%2F2025%2Fmarch%2Frun-01.rsp");
  EXPECT_TRUE(sPage->mfWaitUntil("!!document.querySelector('#tree a.open[data-path=\"n/2025/march/run-01.rsp\"]')"));
}

TEST_F(WebPage, TheLegendNamesEachChannelAndTheReadOutGivesTheValuesAtTheCursor) {
  mpOpenDrawn("#file=n%2F2025%2Frun-04.rsp&channels=1,3&from=2.92&to=2.94");
  EXPECT_EQ(run("[...document.querySelectorAll('#legend .entry')].map((e) => e.textContent).join(' | ')"),
            "1 Hub:force:+Z [N] | 3 Speed:S [km/h]");
  // Value 3001 of channel 1 is its spike (15 000 N); channel 3 holds 1 there.
  run("const u = nodraViewer.plot(); u.setCursor({ left: u.valToPos(2.9296875, 'x'), top: 50 })");
  EXPECT_EQ(text("#legend .time"), "t = 2.929688 s");
  EXPECT_EQ(run("[...document.querySelectorAll('#legend output')].map((o) => o.textContent).join(' | ')"),
            "= 15000 | = 1");
  mpScreenshot("legend-read-out.png");

  // Far out a point is a block: its minimum and maximum.
  mpOpenDrawn("#file=n%2F2025%2Frun-04.rsp&channels=3");
  run("const u = nodraViewer.plot(); u.setCursor({ left: u.valToPos(2, 'x'), top: 50 })");
  EXPECT_NE(text("#legend output").find(" … "), std::string::npos) << text("#legend output");

  // Channel 9 has channel 1's colour and a dash of its own.
  mpOpenDrawn("#file=n%2F2025%2Fmarch%2Frun-01.rsp&channels=1,9");
  const std::string style = "[...document.querySelectorAll('#legend line')].map((l) => l.getAttribute('stroke') + "
                            "'/' + l.getAttribute('stroke-dasharray'))";
  EXPECT_EQ(run(style), (Json{"#1f6fb4/", "#1f6fb4/9 4"}));
}

TEST_F(WebPage, AnEditedAddressIsDrawnAndBackReturnsToTheViewBefore) {
  mpOpenDrawn("#file=n%2F2025%2Frun-04.rsp&channels=1,3");
  const std::string shown = "[document.body.dataset.state, [...document.querySelectorAll('#legend .entry')]"
                            ".map((e) => e.dataset.channel).join(','), nodraViewer.plot().scales.x.min, "
                            "nodraViewer.plot().scales.x.max].join(' ')";
  EXPECT_EQ(run(shown), "drawn 1,3 0 4.8818359375");
  run("location.hash = 'file=n%2F2025%2Frun-04.rsp&channels=2,3&from=3.9&to=4.1'");
  EXPECT_TRUE(sPage->mfWaitUntil("document.body.dataset.state === 'drawn' && nodraViewer.plot().scales.x.min === 3.9"));
  EXPECT_EQ(run(shown), "drawn 2,3 3.9 4.1");
  EXPECT_NE(text("#window").find("3.9 s to 4.1 s"), std::string::npos) << text("#window");
  run("history.back()");
  EXPECT_TRUE(sPage->mfWaitUntil("nodraViewer.plot().scales.x.min === 0"));
  EXPECT_EQ(run(shown), "drawn 1,3 0 4.8818359375");
}

TEST_F(WebPage, StatisticsAndExportsAreThoseOfTheWindowOnScreen) {
  mpOpenDrawn("#file=n%2F2025%2Frun-04.rsp&channels=1,3&from=1.25&to=3.5");
  run("document.getElementById('stats-button').click()");
  ASSERT_TRUE(sPage->mfWaitUntil("document.getElementById('stats-panel').dataset.window === '1.25,3.5'"));
  // #, description, unit, window: values, min, max, mean, RMS; whole: min, max, mean, RMS.
  const Json rows = run("[...document.querySelectorAll('#stats tbody tr')].map((r) => "
                        "[...r.children].map((c) => c.textContent))");
  ASSERT_EQ(rows.size(), 2u) << rows.dump();
  EXPECT_EQ(rows[0][3], "2305");
  EXPECT_EQ(rows[0][5], "15000");  // the spike lies in the window
  EXPECT_EQ(rows[1][4], "0");
  EXPECT_EQ(rows[1][10], "49.5");  // 50 whole runs of 0..99
  EXPECT_LE(run("document.documentElement.scrollWidth").get<int>(), 1280);
  mpScreenshot("window-statistics.png");

  const httplib::Result csv = get(run("document.getElementById('export-csv').getAttribute('href')"));
  ASSERT_TRUE(csv);
  const ProgramResult dump = mfRunProgram({NODRA_BROWSE_PATH, "dump", sDir->mfFile("ap/2025/run-04.rsp"), "--channel",
                                           "1,3", "--from", "1.25", "--to", "3.5"});
  ASSERT_EQ(dump.mStatus, 0) << dump.mErr;
  EXPECT_EQ(csv->body, dump.mOut);
  const httplib::Result npy = get(run("document.getElementById('export-npy').getAttribute('href')"));
  ASSERT_TRUE(npy);
  EXPECT_EQ(npy->get_header_value("Content-Type"), "application/x-npy");
  EXPECT_EQ(npy->get_header_value("X-Nodra-Count"), "2305");
}

TEST_F(WebPage, TheRainflowPanelCountsWithItsRangeAndReferenceAndExportsTheRoutesAnswers) {
  mpOpenDrawn("#file=n%2F2025%2Frun-04.rsp&channels=2");
  run("for (const [id, v] of [['rf-channel', 2], ['rf-classes', 16], ['rf-range-min', -100], ['rf-range-max', 150], "
      "['rf-reference-range', 50], ['rf-reference-cycles', 1e6]]) document.getElementById(id).value = v; "
      "document.getElementById('rf-count').click()");
  ASSERT_TRUE(sPage->mfWaitUntil("document.getElementById('rainflow').dataset.rainflow === 'drawn'"))
      << text("#rf-status");
  const std::string figures = text("#rf-figures");
  EXPECT_NE(figures.find("over [-100, 150]"), std::string::npos) << figures;
  EXPECT_NE(figures.find("damage k=3, fraction of life"), std::string::npos) << figures;
  EXPECT_NE(figures.find("N_ref = 1.0000e+6 cycles at S_ref = 50 mm"), std::string::npos) << figures;
  run("document.getElementById('rainflow').scrollIntoView()");
  mpScreenshot("rainflow.png");

  const httplib::Result json = get(run("document.getElementById('rf-json').getAttribute('href')"));
  const httplib::Result csv = get(run("document.getElementById('rf-csv').getAttribute('href')"));
  ASSERT_TRUE(json && csv);
  const std::string matrix = sDir->mfFile("matrix.csv");
  const ProgramResult browse =
      mfRunProgram({NODRA_BROWSE_PATH, "rainflow", sDir->mfFile("ap/2025/run-04.rsp"), "-c", "2", "--classes", "16",
                    "--range", "-100,150", "--reference-range", "50", "--reference-cycles", "1e6", "--json",
                    "--matrix-csv", matrix});
  ASSERT_EQ(browse.mStatus, 0) << browse.mErr;
  EXPECT_EQ(Json::parse(json->body).at("total"), Json::parse(browse.mOut).at("total"));
  EXPECT_EQ(csv->body, mfReadFile(matrix));

  // Without N_ref the damage is said to be a plain sum.
  run("document.getElementById('rf-reference-cycles').value = ''; document.getElementById('rf-count').click()");
  ASSERT_TRUE(sPage->mfWaitUntil("document.getElementById('rainflow').dataset.rainflow === 'drawn' && "
                                 "!document.getElementById('rf-export').hidden"));
  EXPECT_NE(text("#rf-figures").find("no N_ref: a plain sum"), std::string::npos) << text("#rf-figures");
}

// Not a timed test: the time a 4 Mi-value channel takes from its request to its drawing is
// reported, the drawing itself checked.
TEST_F(WebPage, AChannelOf4MiValuesIsDrawn) {
  mpOpenDrawn("#file=n%2Fbig%2Flong.rsp&channels=1");
  EXPECT_GT(std::stoi(run("document.body.dataset.ink").get<std::string>()), 1000);
  const std::string ms = run("document.body.dataset.drawMs").get<std::string>();
  RecordProperty("draw_ms_4Mi_values", ms);
  std::printf("a channel of 4 Mi values: drawn %s ms after it was asked for\n", ms.c_str());
}

}  // namespace
}  // namespace nodra::test
