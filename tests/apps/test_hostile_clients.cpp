// Careless and hostile clients of nodra-server and nodra-web, on loopback: each attack runs
// bounded in count and time, and what it must not achieve is checked as a bound (memory of
// the process under attack, time of a normal request meanwhile, the clear error).

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/framework/CObjectIdCodec.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/OrbHarness.h"
#include "tests/support/RawHttp.h"
#include "tests/support/Rpc3Writer.h"
#include "tests/support/ScratchDir.h"

namespace nodra::test {
namespace {

namespace IDL = ::TAMBLIX::NODRA::Framework;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long residentKiB(const ChildProcess& process) { return mfProcessStatusFigure(process.mfPid(), "VmRSS:"); }

// Under a sanitizer the programs keep freed memory on purpose (quarantine, shadow memory):
// the attacks run, but their bounds of memory are not what a user's build has.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

void expectGrowthBelow(long beforeKiB, long afterKiB, long boundKiB) {
  if (kMemoryIsMeasurable) {
    EXPECT_LT(afterKiB - beforeKiB, boundKiB) << "KiB before: " << beforeKiB;
  }
}

class HostileClients : public ::testing::Test {
protected:
  void SetUp() override {
    mDir.mfMakeDir("rig");
    Rpc3FileLayout layout;
    layout.mChannels = 2;
    layout.mPtsPerFrame = 8;
    layout.mFrames = 4;
    mDir.mfWriteFile("rig/a.rsp", mfBuildRpc3File(layout));
  }

  // nodra-server over rig/ on a free port, once it answers; its url in mUrl.
  std::unique_ptr<ChildProcess> mfStartServer(const std::vector<std::string>& more = {}) {
    const std::string ior = mDir.mfFile("server.ior");
    std::filesystem::remove(ior);
    std::unique_ptr<ChildProcess> server;
    for (int attempt = 0; attempt < 5 && !std::filesystem::exists(ior); ++attempt) {
      mPort = mfFreePort();
      std::vector<std::string> args = {NODRA_SERVER_PATH, "--access-point", "rig=" + mDir.mfFile("rig"),
                                       "--port", std::to_string(mPort), "--ior-file", ior};
      args.insert(args.end(), more.begin(), more.end());
      server = std::make_unique<ChildProcess>(args, mDir.mfFile("server.log"));
      for (int wait = 0; wait < 100 && !std::filesystem::exists(ior); ++wait) std::this_thread::sleep_for(50ms);
    }
    mUrl = "corbaloc::127.0.0.1:" + std::to_string(mPort) + "/NodraServer";
    IDL::DataServer_var root = mfWaitForServer(OrbHarness::sfGet().mOrb, mUrl);
    EXPECT_FALSE(CORBA::is_nil(root)) << mfReadFile(mDir.mfFile("server.log"));
    return server;
  }

  // nodra-web with `args` on a free port, once it prints its URL; its port in mWebPort.
  std::unique_ptr<ChildProcess> mfStartWeb(std::vector<std::string> args) {
    const std::string log = mDir.mfFile("web.log");
    std::filesystem::remove(log);
    args.insert(args.begin(), NODRA_WEB_PATH);
    args.insert(args.end(), {"--listen", "127.0.0.1:0"});
    auto web = std::make_unique<ChildProcess>(args, log);
    const std::regex url("http://127\\.0\\.0\\.1:([0-9]+)/");
    for (int attempt = 0; attempt < 200; ++attempt) {
      std::smatch match;
      const std::string text = mfReadFile(log);
      if (std::regex_search(text, match, url)) {
        mWebPort = std::stoi(match[1]);
        return web;
      }
      std::this_thread::sleep_for(25ms);
    }
    ADD_FAILURE() << "nodra-web printed no URL: " << mfReadFile(log);
    return web;
  }

  // The bytes a data object's key holds before its identifier (the object adapter's own),
  // learnt from a reference the server hands out: the key is the sequence in the IOR whose
  // length field, just before it, counts through to the end of the identifier.
  std::string mfKeyPrefix() {
    IDL::DataServer_var root = mfWaitForServer(OrbHarness::sfGet().mOrb, mUrl);
    IDL::File_var file = root->open_file("rig", "", "a.rsp");
    IDL::ObjectId_var id = file->get_object_id();
    const std::string encoded = TamblixHq::NODRA::Framework::CObjectIdCodec::sfEncode(id.in());
    CORBA::String_var ior = OrbHarness::sfGet().mOrb->object_to_string(file);
    const std::string hex(ior.in() + 4);
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    const std::size_t at = bytes.find(encoded);
    const bool little = bytes[0] == 1;
    for (std::size_t start = at; start >= 4 && at != std::string::npos; --start) {
      std::uint32_t length = 0;
      for (int b = 0; b < 4; ++b) {
        const auto byte = static_cast<std::uint8_t>(bytes[start - 4 + static_cast<std::size_t>(b)]);
        length |= static_cast<std::uint32_t>(byte) << (8 * (little ? b : 3 - b));
      }
      if (length == at + encoded.size() - start) return bytes.substr(start, at - start);
    }
    ADD_FAILURE() << "no object key in " << ior.in();
    return "";
  }

  // A reference whose object key is `prefix` and `key`, as any client may make one.
  CORBA::Object_ptr mfObjectWithKey(const std::string& prefix, const std::string& key) {
    std::string escaped;
    char hex[4];
    for (unsigned char c : prefix + key) {
      if (std::isalnum(c)) {
        escaped += static_cast<char>(c);
      } else {
        std::snprintf(hex, sizeof hex, "%%%02x", c);
        escaped += hex;
      }
    }
    return OrbHarness::sfGet().mOrb->string_to_object(
        ("corbaloc::127.0.0.1:" + std::to_string(mPort) + "/" + escaped).c_str());
  }

  ScratchDir mDir;
  int mPort = 0;
  int mWebPort = 0;
  std::string mUrl;
};

std::string fileKey(const std::string& label) {
  IDL::ObjectId id;
  id.access_point = "rig";
  id.sub_directory = "";
  id.file_name = "a.rsp";
  id.driver = "RPC3";
  id.domain = "";
  id.type_id = "RPC3File";
  id.item = "";
  id.label = label.c_str();
  id.axis = "";
  id.index = "";
  id.extension = "";
  return TamblixHq::NODRA::Framework::CObjectIdCodec::sfEncode(id);
}

TEST_F(HostileClients, AFloodOfObjectKeysLeavesTheServersMemoryBounded) {
  auto server = mfStartServer({"--max-servant-mib", "2"});
  const std::string prefix = mfKeyPrefix();
  const long before = residentKiB(*server);
  // Keys far beyond any the server makes: refused unread, never cached.
  int refused = 0;
  for (int i = 0; i < 60; ++i) {
    try {
      CORBA::Object_var object = mfObjectWithKey(prefix, fileKey(std::string(1 << 20, char('a' + i % 26)) + std::to_string(i)));
      IDL::File_var file = IDL::File::_unchecked_narrow(object);
      file->get_number_of_children();
    } catch (const CORBA::OBJECT_NOT_EXIST&) {
      ++refused;
    }
  }
  EXPECT_EQ(refused, 60);
  // Keys the server could have made, each another object: the cache keeps to its bytes.
  for (int i = 0; i < 2000; ++i) {
    CORBA::Object_var object = mfObjectWithKey(prefix, fileKey(std::to_string(i) + std::string(5000, 'x')));
    IDL::File_var file = IDL::File::_unchecked_narrow(object);
    ASSERT_EQ(file->get_number_of_children(), 2u) << i;
  }
  // Without the bounds: some 60 MiB for the first loop and 30 MiB for the second.
  expectGrowthBelow(before, residentKiB(*server), 24 * 1024);
  EXPECT_EQ(server->mfStopAndGetStatus(), 0);
}

TEST_F(HostileClients, ManyFilesOpenedUnderEveryNameKeepTheHeadersBounded) {
  Rpc3FileLayout layout;
  for (int i = 0; i < 1500; ++i) mDir.mfWriteFile("rig/f" + std::to_string(i) + ".rsp", mfBuildRpc3File(layout));
  auto server = mfStartServer({"--max-header-mib", "4"});
  IDL::DataServer_var root = mfWaitForServer(OrbHarness::sfGet().mOrb, mUrl);
  const long before = residentKiB(*server);
  int aliases = 0;
  for (int i = 0; i < 1500; ++i) {
    const std::string name = "f" + std::to_string(i) + ".rsp";
    IDL::File_var file = root->open_file("rig", "", name.c_str());
    for (const char* alias : {".", "./.", "sub//"}) {
      try {
        IDL::File_var again = root->open_file("rig", alias, name.c_str());
      } catch (const IDL::DBAccessException&) {
        ++aliases;
      }
    }
  }
  EXPECT_EQ(aliases, 3 * 1500);  // one name a file
  // Each header's map takes some 80 KiB: 120 MiB for them all without the bound.
  expectGrowthBelow(before, residentKiB(*server), 32 * 1024);
  EXPECT_EQ(server->mfStopAndGetStatus(), 0);
}

TEST_F(HostileClients, TheViewerAnswersOnlyItsOwnHostNamesAndOnlyReads) {
  auto web = mfStartWeb({"--access-point", "t=" + mDir.mfFile("rig"), "--allow-host", "rig-pc"});
  const std::string p = ":" + std::to_string(mWebPort);
  const std::pair<std::string, int> hosts[] = {
      {"127.0.0.1" + p, 200}, {"localhost" + p, 200}, {"LocalHost" + p, 200}, {"[::1]" + p, 200},
      {"10.1.2.3" + p, 200},  {"rig-pc" + p, 200},    {"RIG-PC" + p, 200},
      // DNS rebinding: a name the viewer was not told of, and names on other ports.
      {"attacker.example" + p, 421}, {"rig-pc.attacker.example" + p, 421}, {"localhost", 421},
      {"127.0.0.1:1", 421}, {"localhost" + p + "x", 421},
  };
  for (const auto& [host, status] : hosts) {
    EXPECT_EQ(mfStatusOf(mfRoundTrip(mWebPort, mfGetRequest("/api/files", host))), status) << host;
  }
  const std::string page = mfRoundTrip(mWebPort, mfGetRequest("/", "127.0.0.1" + p));
  EXPECT_EQ(mfStatusOf(page), 200);
  for (const char* header : {"X-Content-Type-Options: nosniff", "frame-ancestors 'none'", "Content-Security-Policy: "}) {
    EXPECT_NE(page.find(header), std::string::npos) << header;
  }
  // Methods other than GET and HEAD, and any body, are refused without reading it.
  const std::string host = "Host: 127.0.0.1" + p + "\r\nConnection: close\r\n";
  const std::pair<std::string, int> requests[] = {
      {"HEAD /api/files HTTP/1.1\r\n" + host + "\r\n", 200},
      {"POST /api/files HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc", 405},
      {"PUT /a.rsp HTTP/1.1\r\n" + host + "Content-Length: 3\r\n\r\nabc", 405},
      {"DELETE /api/files HTTP/1.1\r\n" + host + "\r\n", 405},
      {"OPTIONS / HTTP/1.1\r\n" + host + "\r\n", 405},
      {"GET /api/files HTTP/1.1\r\n" + host + "Content-Length: 400000000\r\n\r\n", 413},
      {"GET /api/files HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n", 413},
  };
  for (const auto& [request, status] : requests) {
    const auto start = Clock::now();
    EXPECT_EQ(mfStatusOf(mfRoundTrip(mWebPort, request)), status) << request;
    EXPECT_LT(secondsSince(start), 2.0) << request;  // answered at once, the connection closed
  }
  expectGrowthBelow(0, residentKiB(*web), 200 * 1024);
}

TEST_F(HostileClients, SlowClientsDoNotDelayANormalRequest) {
  auto web = mfStartWeb({"--access-point", "t=" + mDir.mfFile("rig"), "--header-seconds", "2"});
  const std::string request = mfGetRequest("/api/files", "127.0.0.1:" + std::to_string(mWebPort));
  // 100 connections from one address and 20 from addresses of their own, each sending its
  // headers a byte every 200 ms.
  std::vector<int> slow;
  for (int i = 0; i < 100; ++i) slow.push_back(mfConnectFrom("127.0.0.2", mWebPort));
  for (int i = 0; i < 20; ++i) slow.push_back(mfConnectFrom("127.0.0." + std::to_string(10 + i), mWebPort));
  std::atomic<bool> done{false};
  std::thread drip([&] {
    for (std::size_t k = 0; !done && k < 40; ++k) {
      for (int fd : slow) {
        if (fd >= 0) ::send(fd, &request[k % request.size()], 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      }
      std::this_thread::sleep_for(200ms);
    }
  });
  std::this_thread::sleep_for(300ms);
  for (int round = 0; round < 5; ++round) {
    const auto start = Clock::now();
    EXPECT_EQ(mfStatusOf(mfRoundTrip(mWebPort, request)), 200);
    EXPECT_LT(secondsSince(start), 1.0) << "round " << round;
    std::this_thread::sleep_for(500ms);
  }
  // The headers' deadline ends every slow connection, well before its headers would end.
  const auto start = Clock::now();
  int closed = 0;
  for (int fd : slow) {
    if (fd < 0) continue;
    mfReadAll(fd, std::chrono::milliseconds(std::max<long>(0, 6000 - static_cast<long>(1000 * secondsSince(start)))));
    pollfd entry{fd, POLLIN, 0};
    char byte;
    if (::poll(&entry, 1, 0) > 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0) ++closed;
    ::close(fd);
  }
  done = true;
  drip.join();
  EXPECT_EQ(closed, 120);
}

TEST_F(HostileClients, ASecondViewerOnAPortInUseExitsAndTheFirstServesOn) {
  auto web = mfStartWeb({"--access-point", "t=" + mDir.mfFile("rig")});
  const ProgramResult second = mfRunProgram({NODRA_WEB_PATH, "--access-point", "t=" + mDir.mfFile("rig"),
                                              "--listen", "127.0.0.1:" + std::to_string(mWebPort)});
  EXPECT_EQ(second.mStatus, 1);
  EXPECT_NE(second.mErr.find("address in use"), std::string::npos) << second.mErr;
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(mfStatusOf(mfRoundTrip(mWebPort, mfGetRequest("/api/files", "127.0.0.1:" + std::to_string(mWebPort)))), 200);
  }
}

TEST_F(HostileClients, AStalledServerTimesOutInsteadOfHanging) {
  // A listener that takes connections and never answers.
  const int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent, 16), 0);
  ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
  const std::string url = "corbaloc::127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/NodraServer";
  auto start = Clock::now();
  const ProgramResult browse = mfRunProgram({NODRA_BROWSE_PATH, "--server", url, "--timeout", "1", "rig/a.rsp"});
  EXPECT_EQ(browse.mStatus, 1);
  EXPECT_NE(browse.mErr.find("did not answer within 1 s"), std::string::npos) << browse.mErr;
  EXPECT_LT(secondsSince(start), 10.0);
  ::close(silent);

  // A server that stops answering once the viewer uses it: the routes say so, the page is served.
  auto server = mfStartServer();
  auto web = mfStartWeb({"--server", mUrl, "--timeout", "1"});
  const std::string host = "127.0.0.1:" + std::to_string(mWebPort);
  ASSERT_EQ(mfStatusOf(mfRoundTrip(mWebPort, mfGetRequest("/api/files", host))), 200);
  ::kill(server->mfPid(), SIGSTOP);
  std::vector<std::thread> waiting;
  std::vector<std::string> answers(8);
  start = Clock::now();
  for (std::size_t i = 0; i < answers.size(); ++i) {
    waiting.emplace_back([&, i] { answers[i] = mfRoundTrip(mWebPort, mfGetRequest("/api/file?path=rig/a.rsp", host)); });
  }
  const auto pageStart = Clock::now();
  EXPECT_EQ(mfStatusOf(mfRoundTrip(mWebPort, mfGetRequest("/", host))), 200);
  EXPECT_LT(secondsSince(pageStart), 1.0);
  for (std::thread& thread : waiting) thread.join();
  for (const std::string& answer : answers) {
    EXPECT_EQ(mfStatusOf(answer), 502);
    EXPECT_NE(answer.find("did not answer within 1 s"), std::string::npos) << answer;
  }
  EXPECT_LT(secondsSince(start), 10.0);
  ::kill(server->mfPid(), SIGCONT);
}

TEST_F(HostileClients, AHeaderThatClaimsMillionsOfChannelsIsRefusedWithoutGrowing) {
  Rpc3FileLayout layout;
  layout.mExtraKeywords = {{"CHANNELS", "100000"}};
  mDir.mfWriteFile("rig/many.rsp", mfBuildRpc3File(layout));
  layout.mExtraKeywords = {{"CHANNELS", "2000000000"}};
  mDir.mfWriteFile("rig/billions.rsp", mfBuildRpc3File(layout));
  auto web = mfStartWeb({"--access-point", "t=" + mDir.mfFile("rig")});
  const std::string host = "127.0.0.1:" + std::to_string(mWebPort);
  for (const char* file : {"many.rsp", "billions.rsp"}) {
    const std::string answer = mfRoundTrip(mWebPort, mfGetRequest(std::string("/api/file?path=t/") + file, host));
    EXPECT_EQ(mfStatusOf(answer), 422) << file;
    EXPECT_NE(answer.find("more than the 10000 a listing holds"), std::string::npos) << answer;
  }
  expectGrowthBelow(0, residentKiB(*web), 200 * 1024);
}

TEST_F(HostileClients, HeadsWithoutEndAndBodiesAfterARefusalLeaveTheViewersMemoryWhereItWas) {
  auto web = mfStartWeb({"--access-point", "t=" + mDir.mfFile("rig")});
  const long before = residentKiB(*web);
  // Four connections send one header line without end; a fifth, refused for its Host,
  // sends a body after it. Each sends as fast as the viewer reads, for two seconds.
  const std::pair<std::string, int> attacks[] = {
      {"GET / HTTP/1.1\r\nX-Long: ", 431}, {"GET / HTTP/1.1\r\nX-Long: ", 431},
      {"GET / HTTP/1.1\r\nX-Long: ", 431}, {"GET / HTTP/1.1\r\nX-Long: ", 431},
      {"GET /api/files HTTP/1.1\r\nHost: attacker.example\r\nContent-Type: text/plain\r\n\r\n", 421},
  };
  std::vector<int> fds;
  for (const auto& [start, status] : attacks) {
    fds.push_back(mfConnectFrom("127.0.0." + std::to_string(2 + fds.size()), mWebPort));
    ::send(fds.back(), start.data(), start.size(), MSG_NOSIGNAL);
  }
  const std::string chunk(64 * 1024, 'a');
  for (const auto end = Clock::now() + 2s; Clock::now() < end;) {
    for (int fd : fds) ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    std::this_thread::sleep_for(1ms);
  }
  for (std::size_t i = 0; i < fds.size(); ++i) {
    EXPECT_EQ(mfStatusOf(mfReadAll(fds[i], 2s)), attacks[i].second) << i;
    ::close(fds[i]);
  }
  expectGrowthBelow(before, residentKiB(*web), 16 * 1024);
}

TEST_F(HostileClients, ARainflowRequestIsBoundedInTheValuesItReadsAndTheResidueItLists) {
  // Swings that keep shrinking: no cycle closes, every reversal stays in the residue.
  Rpc3FileLayout layout;
  layout.mPtsPerFrame = 1000;
  layout.mFrames = 10;
  layout.mSample = [](int, std::int64_t i) { return (i % 2 ? 1.0 : -1.0) * static_cast<double>(15000 - i); };
  mDir.mfWriteFile("rig/shrinking.rsp", mfBuildRpc3File(layout));
  auto web = mfStartWeb({"--access-point", "t=" + mDir.mfFile("rig"), "--max-read-values", "300000"});
  const std::string host = "127.0.0.1:" + std::to_string(mWebPort);
  const std::string one = mfRoundTrip(mWebPort, mfGetRequest("/api/rainflow?path=t/shrinking.rsp&channel=1", host));
  ASSERT_EQ(mfStatusOf(one), 200) << one.substr(0, 300);
  const nlohmann::json file = nlohmann::json::parse(one.substr(one.find("\r\n\r\n") + 4)).at("files")[0];
  EXPECT_EQ(file.at("residue_length"), 10000);
  EXPECT_EQ(file.at("residue").size(), 4096u);
  // The same file under forty names: 40 x 10 000 values, twice (the class range, then the
  // count), beyond the 300 000 this viewer reads for one request.
  std::string many = "/api/rainflow?channel=1";
  for (int i = 1; i <= 40; ++i) many += "&path=t/shrinking.rsp:" + std::to_string(i);
  const auto start = Clock::now();
  const std::string refused = mfRoundTrip(mWebPort, mfGetRequest(many, host));
  EXPECT_EQ(mfStatusOf(refused), 413) << refused.substr(0, 300);
  EXPECT_NE(refused.find("one request reads at most 300000"), std::string::npos) << refused;
  EXPECT_LT(secondsSince(start), 2.0);
}

TEST_F(HostileClients, ACsvOfAThousandChannelsKeepsTheViewersMemoryFlat) {
  Rpc3FileLayout layout;
  layout.mChannels = 1000;
  layout.mPtsPerFrame = 1024;
  layout.mFrames = 16;
  mDir.mfWriteFile("rig/wide.rsp", mfBuildRpc3File(layout));
  auto web = mfStartWeb({"--access-point", "t=" + mDir.mfFile("rig")});
  std::string channels;
  for (int i = 1; i <= 1000; ++i) channels += (i == 1 ? "" : ",") + std::to_string(i);
  const std::string host = "127.0.0.1:" + std::to_string(mWebPort);
  EXPECT_EQ(mfStatusOf(mfRoundTrip(mWebPort, mfGetRequest("/api/file?path=t/wide.rsp", host))), 200);
  const long before = residentKiB(*web);
  const std::string answer =
      mfRoundTrip(mWebPort, mfGetRequest("/api/values?path=t/wide.rsp&format=csv&channel=" + channels, host),
                  "127.0.0.1", 120s);  // a sanitized build takes its time
  EXPECT_EQ(mfStatusOf(answer), 200);
  EXPECT_NE(answer.find("\n16.383,0,"), std::string::npos) << "the last line is missing";
  // Without the budget a row of 1000 channels x 16 384 values, held and in flight: some
  // 200 MiB.
  expectGrowthBelow(before, mfProcessStatusFigure(web->mfPid(), "VmHWM:"), 48 * 1024);
}

TEST_F(HostileClients, ManyConcurrentHeaderListingsKeepTheServersMemoryBounded) {
  Rpc3FileLayout layout;
  for (int i = 0; i < 131000; ++i) layout.mExtraKeywords.emplace_back("NOTE_" + std::to_string(i), "a remark");
  mDir.mfWriteFile("rig/big.rsp", mfBuildRpc3File(layout));
  auto server = mfStartServer();
  IDL::DataServer_var root = mfWaitForServer(OrbHarness::sfGet().mOrb, mUrl);
  IDL::File_var file = root->open_file("rig", "", "big.rsp");
  // The header parsed and one listing sent: what stays from here on is the bounds' doing.
  IDL::HeaderReading_var first = file->get_header_reading();
  ASSERT_GT(first->records.length(), 131000u);
  first = nullptr;
  std::this_thread::sleep_for(1500ms);
  const long before = residentKiB(*server);
  std::atomic<int> listed{0}, busy{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 32; ++i) {
    clients.emplace_back([&] {
      try {
        IDL::HeaderReading_var reading = file->get_header_reading();
        if (reading->records.length() > 131000u) ++listed;
      } catch (const IDL::DBAccessException& e) {
        if (std::string(e.message.in()) == "the server is busy with large replies; try again") ++busy;
      } catch (const CORBA::Exception&) {
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(listed + busy, 32);
  EXPECT_GE(listed, 4);
  const long peak = mfProcessStatusFigure(server->mfPid(), "VmHWM:");
  std::this_thread::sleep_for(2s);  // the trimmer's turn
  // Without the bounds: a peak some 200 MiB above on two cores (600 MiB on more), all of it
  // kept; with them some 100 MiB, and nearly nothing kept.
  expectGrowthBelow(before, peak, 160 * 1024);
  expectGrowthBelow(before, residentKiB(*server), 24 * 1024);
  EXPECT_EQ(server->mfStopAndGetStatus(), 0);
}

}  // namespace
}  // namespace nodra::test
