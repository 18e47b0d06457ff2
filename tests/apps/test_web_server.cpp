// The viewer's HTTP server against clients that do not play by the rules: the bounds of a
// request's head, connections refused at accept, heavy and streamed requests bounded in
// number, compression chosen by the server, and work that ends with its client, its time
// or the server.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "apps/web/CWebServer.h"
#include "apps/web/HttpError.h"
#include "tests/support/RawHttp.h"

namespace nodra::test {
namespace {

using TamblixHq::NODRA::Web::ClientGone;
using TamblixHq::NODRA::Web::CWebServer;
using TamblixHq::NODRA::Web::HttpError;
using TamblixHq::NODRA::Web::RequestBudget;
using TamblixHq::NODRA::Web::RouteBudget;
using namespace std::chrono_literals;

// A server on a free loopback port with the routes `route` adds, served on a thread of its
// own until the end of the test.
class Running {
public:
  Running(CWebServer::Settings settings, const std::function<void(CWebServer&)>& route)
      : mServer(std::move(settings)) {
    route(mServer);
    mPort = mServer.mfBind("127.0.0.1", 0);
    mThread = std::thread([this] { mServer.mpListen(); });
  }
  ~Running() { mfStop(); }
  // Stops the server; answers the seconds until it had stopped.
  double mfStop() {
    if (!mThread.joinable()) return 0;
    const auto start = std::chrono::steady_clock::now();
    mServer.mpStop();
    mThread.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  std::string mfHost() const { return "127.0.0.1:" + std::to_string(mPort); }
  std::string mfGet(const std::string& target, const std::string& more = "") const {
    return "GET " + target + " HTTP/1.1\r\nHost: " + mfHost() + "\r\n" + more + "\r\n";
  }
  int mPort = 0;

private:
  CWebServer mServer;
  std::thread mThread;
};

// A connection from `source` that has sent `request`.
int sent(int port, const std::string& request, const std::string& source = "127.0.0.1") {
  const int fd = mfConnectFrom(source, port);
  if (fd >= 0) ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  return fd;
}

// What ended a held request, written by the server's thread and read by the test's.
class Ended {
public:
  void mpSet(const std::string& text) {
    std::lock_guard<std::mutex> lock(mMutex);
    mText = text;
  }
  void mpStarted() { ++mStarts; }
  // Whether `count` requests have reached the handler, waiting up to `timeout`: a request
  // acted on before its handler runs tests nothing (a sanitized build may take long).
  bool mfWaitStarts(int count, std::chrono::milliseconds timeout = 10s) {
    for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
      if (mStarts >= count) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  // The text once one was set, waiting up to `timeout`.
  std::string mfWait(std::chrono::milliseconds timeout = 3s) {
    for (auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
      {
        std::lock_guard<std::mutex> lock(mMutex);
        if (!mText.empty()) return std::exchange(mText, std::string());
      }
      std::this_thread::sleep_for(10ms);
    }
    return "";
  }

private:
  std::mutex mMutex;
  std::string mText;
  std::atomic<int> mStarts{0};
};

// A route that holds its request until `release`, checking its budget meanwhile; what
// ended it is left in `ended`.
CWebServer::Handler holding(const std::atomic<bool>& release, std::shared_ptr<Ended> ended = nullptr) {
  return [&release, ended](const httplib::Request&, httplib::Response& response, const RequestBudget& budget) {
    if (ended) ended->mpStarted();
    try {
      while (!release) {
        budget->mpCheck();
        std::this_thread::sleep_for(10ms);
      }
      response.set_content("done", "text/plain");
    } catch (const ClientGone&) {
      if (ended) ended->mpSet("client gone");
    } catch (const HttpError& e) {
      if (ended) ended->mpSet(e.mMessage);
      response.status = e.mStatus;
    }
  };
}

TEST(WebServer, AHeadBeyondItsBoundsIsRefusedAsItArrivesAndTheConnectionClosed) {
  Running web({}, [](CWebServer& server) {
    server.mpRoute("/", RouteBudget{}, [](const httplib::Request&, httplib::Response& response, const RequestBudget&) {
      response.set_content("ok", "text/plain");
    });
  });
  std::string manyHeaders, longHeaders;
  for (int i = 0; i < 50; ++i) manyHeaders += "X-" + std::to_string(i) + ": 1\r\n";
  for (int i = 0; i < 70; ++i) longHeaders += "X-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
  const std::string endless(1 << 20, 'a');
  const struct {
    const char* what;
    std::string request;
    int status;
  } rows[] = {
      {"50 short headers", web.mfGet("/", manyHeaders), 200},
      {"a request line without end", "GET /" + endless, 414},
      {"a header line without end", "GET / HTTP/1.1\r\nX-Long: " + endless, 431},
      {"more than 100 lines", web.mfGet("/", manyHeaders + manyHeaders + manyHeaders), 431},
      {"more than 64 KiB of lines of 1 KB", web.mfGet("/", longHeaders), 431},
  };
  for (const auto& row : rows) {
    const int fd = mfConnectFrom("127.0.0.1", web.mPort);
    ASSERT_GE(fd, 0);
    // Sent without waiting: the server stops reading once the head is refused.
    std::size_t at = 0;
    for (int tries = 0; at < row.request.size() && tries < 200; ++tries) {
      const ssize_t n = ::send(fd, row.request.data() + at, row.request.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) at += static_cast<std::size_t>(n);
      if (n < 0 && errno != EAGAIN) break;
      if (n <= 0) std::this_thread::sleep_for(5ms);
    }
    const std::string answer = mfReadAll(fd, 2s);
    EXPECT_EQ(mfStatusOf(answer), row.status) << row.what << ": " << answer.substr(0, 200);
    if (row.status != 200) {
      EXPECT_TRUE(mfPeerClosed(fd, 1s)) << row.what;
    }
    ::close(fd);
  }
}

TEST(WebServer, ARefusalEndsItsConnectionSoThatWhatFollowsIsNeverRead) {
  Running web({}, [](CWebServer& server) {
    server.mpRoute("/", RouteBudget{}, [](const httplib::Request&, httplib::Response& response, const RequestBudget&) {
      response.set_content("ok", "text/plain");
    });
  });
  const std::string next = web.mfGet("/");
  const struct {
    std::string refused;
    int status;
  } rows[] = {
      {"GET / HTTP/1.1\r\nHost: attacker.example\r\n\r\n", 421},
      {"OPTIONS / HTTP/1.1\r\nHost: " + web.mfHost() + "\r\n\r\n", 405},
      {web.mfGet("/"), 200},  // not a refusal: the connection serves the next request
  };
  for (const auto& row : rows) {
    const int fd = sent(web.mPort, row.refused + next);
    const std::string answer = mfReadAll(fd, 1s);
    ::close(fd);
    EXPECT_EQ(mfStatusOf(answer), row.status) << answer;
    const std::size_t responses = answer.find("HTTP/1.1 200", 1) != std::string::npos ? 2 : 1;
    EXPECT_EQ(responses, row.status == 200 ? 2u : 1u) << answer;
  }
}

TEST(WebServer, ConnectionsBeyondTheirBoundsAreRefusedAtAcceptWhileWorkersAreBusy) {
  std::atomic<bool> release{false};
  CWebServer::Settings settings;
  settings.threads = 2;
  settings.queued = 1;
  settings.connectionsPerAddress = 3;
  Running web(settings, [&](CWebServer& server) { server.mpRoute("/hold", RouteBudget{}, holding(release)); });
  std::vector<int> held;
  for (int i = 0; i < 3; ++i) {  // two served, then one queued
    held.push_back(sent(web.mPort, web.mfGet("/hold", "Connection: close\r\n"), "127.0.0.2"));
    std::this_thread::sleep_for(100ms);
  }
  const struct {
    const char* what;
    const char* source;
  } rows[] = {{"a fourth connection of the same address", "127.0.0.2"}, {"another address, the queue full", "127.0.0.3"}};
  for (const auto& row : rows) {
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = mfRoundTrip(web.mPort, web.mfGet("/hold"), row.source);
    EXPECT_EQ(mfStatusOf(answer), 503) << row.what;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0) << row.what;
  }
  release = true;
  for (int fd : held) {
    EXPECT_EQ(mfStatusOf(mfReadAll(fd, 3s)), 200);
    ::close(fd);
  }
}

TEST(WebServer, HeavyAndStreamedRequestsAreBoundedInNumber) {
  std::atomic<bool> release{false};
  CWebServer::Settings settings;
  settings.heavyRequests = 1;
  settings.streamsPerAddress = 1;
  Running web(settings, [&](CWebServer& server) {
    server.mpRoute("/heavy", RouteBudget{0, 1, true, false}, holding(release));
    server.mpRoute("/stream", RouteBudget{0, 1, false, true}, holding(release));
  });
  const int heavy = sent(web.mPort, web.mfGet("/heavy", "Connection: close\r\n"));
  const int stream = sent(web.mPort, web.mfGet("/stream", "Connection: close\r\n"));
  std::this_thread::sleep_for(200ms);
  const struct {
    const char* target;
    const char* source;
    int status;
  } rows[] = {{"/heavy", "127.0.0.2", 503}, {"/stream", "127.0.0.1", 503}, {"/stream", "127.0.0.2", 200}};
  std::vector<int> pending;
  for (const auto& row : rows) {
    const int fd = sent(web.mPort, web.mfGet(row.target), row.source);
    const std::string answer = mfReadAll(fd, 300ms);
    if (row.status == 503) {
      EXPECT_EQ(mfStatusOf(answer), 503) << row.target << " from " << row.source;
      EXPECT_NE(answer.find("Retry-After"), std::string::npos);
    } else {
      EXPECT_EQ(answer, "") << row.target << " from " << row.source << " is served, not refused";
    }
    pending.push_back(fd);
  }
  release = true;
  for (int fd : {heavy, stream}) EXPECT_EQ(mfStatusOf(mfReadAll(fd, 3s)), 200);
  for (int fd : pending) ::close(fd);
  ::close(heavy);
  ::close(stream);
}

TEST(WebServer, WorkEndsWhenItsClientLeavesItsTimeRunsOutOrTheServerStops) {
  std::atomic<bool> never{false};
  auto ended = std::make_shared<Ended>();
  CWebServer::Settings settings;
  settings.requestDeadline = 1s;
  {
    Running web(settings, [&](CWebServer& server) { server.mpRoute("/work", RouteBudget{}, holding(never, ended)); });
    const int fd = sent(web.mPort, web.mfGet("/work"));
    ASSERT_TRUE(ended->mfWaitStarts(1));
    ::close(fd);
    EXPECT_EQ(ended->mfWait(), "client gone");

    const std::string late = mfRoundTrip(web.mPort, web.mfGet("/work", "Connection: close\r\n"));
    EXPECT_EQ(mfStatusOf(late), 503);
    const std::string why = ended->mfWait();
    EXPECT_NE(why.find("longer than the 1 s"), std::string::npos) << why;
  }
  settings.requestDeadline = 600s;
  Running web(settings, [&](CWebServer& server) { server.mpRoute("/work", RouteBudget{}, holding(never, ended)); });
  const int fd = sent(web.mPort, web.mfGet("/work"));
  ASSERT_TRUE(ended->mfWaitStarts(3));  // the two of the first viewer, then this one
  EXPECT_LT(web.mfStop(), 2.0);
  EXPECT_EQ(ended->mfWait(), "the viewer is stopping");
  ::close(fd);
}

TEST(WebServer, TheServerChoosesCompressionGzipAtMostAndNoneForStreamedValues) {
  Running web({}, [](CWebServer& server) {
    const auto text = [](const httplib::Request&, httplib::Response& response, const RequestBudget&) {
      response.set_content(std::string(100000, 'a'), "application/json");
    };
    server.mpRoute("/api/file", RouteBudget{}, text);
    server.mpRoute("/api/values", RouteBudget{}, text);
  });
  const struct {
    const char* target;
    const char* accepted;
    const char* encoding;  // nullptr: none
  } rows[] = {
      {"/api/file", "br, gzip, deflate", "gzip"},
      {"/api/file", "br", nullptr},
      {"/api/values", "br, gzip", nullptr},
  };
  for (const auto& row : rows) {
    const std::string answer = mfRoundTrip(
        web.mPort, web.mfGet(row.target, std::string("Accept-Encoding: ") + row.accepted + "\r\nConnection: close\r\n"));
    EXPECT_EQ(mfStatusOf(answer), 200);
    const std::size_t at = answer.find("Content-Encoding: ");
    EXPECT_EQ(at == std::string::npos ? "" : answer.substr(at + 18, answer.find('\r', at) - at - 18),
              row.encoding ? row.encoding : "")
        << row.target << " " << row.accepted;
  }
}

}  // namespace
}  // namespace nodra::test
