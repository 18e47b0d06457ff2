// The viewer's HTTP server, made to face a network it does not trust. It bounds what a
// client can make it hold before any route runs: connections per client address and
// connections waiting for a worker (both at accept), a request's header bytes and lines
// (while they are read) and the time its headers take; it answers only the host names it
// is reached under (no DNS rebinding), only GET and HEAD without a body, closes the
// connection after every refusal, and decides compression itself. Every route declares
// what one request may use (RouteBudget) and gets a budget that the server enforces:
// heavy and streamed requests are bounded in number, every request in time, and work ends
// when its client leaves or the server stops. Safe to share between the request threads.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "apps/web/CRequestBudget.h"

namespace TamblixHq::NODRA::Web {

class CWebServer : private httplib::Server {
public:
  struct Settings {
    std::set<std::string> allowedHosts;           // names beside localhost, IP literals and the listen host
    std::chrono::milliseconds headerDeadline{10000};  // from a request's first byte to its last header
    std::size_t connectionsPerAddress = 16;       // open or waiting at once from one client address
    std::size_t threads = 48;                     // requests served at once
    std::size_t queued = 64;                      // connections waiting for a worker, all addresses
    std::size_t heavyRequests = 2;                // requests that count or read whole channels, at once
    std::size_t streamsPerAddress = 4;            // streamed answers at once to one client address
    std::chrono::seconds requestDeadline{300};    // from a route's start to its answer's last byte
  };
  // Bounds of a request's head, checked as its bytes arrive.
  static constexpr std::size_t kMaxHeaderLine = 8 * 1024;   // the request line, or one header line
  static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;  // all of a request's head
  static constexpr std::size_t kMaxHeaderLines = 100;

  using Handler = std::function<void(const httplib::Request&, httplib::Response&, const RequestBudget&)>;

  explicit CWebServer(Settings settings);
  ~CWebServer() override;

  // Answers GET (and HEAD) requests of `pattern` with `handler`, each within `budget`.
  void mpRoute(const std::string& pattern, const RouteBudget& budget, Handler handler);
  // Serves the files of `directory` under `mountPoint`.
  void mpServeFiles(const std::string& mountPoint, const std::string& directory);
  // Answers what no route took, and errors.
  void mpSetErrorHandler(httplib::Server::HandlerWithResponse error);

  // Binds `host`:`port` (port 0: any free one) exclusively and remembers the host and the
  // port for the Host check. Answers the port, or -1 when the address cannot be bound
  // (in use, say), with errno set.
  int mfBind(const std::string& host, int port);
  // Serves until mpStop.
  bool mpListen();
  // Stops accepting, ends the work in flight at its next check and waits for the workers.
  void mpStop();

  // Whether a request's Host header names this server: empty (HTTP/1.0), an IP literal,
  // "localhost", the listen host or an allowed name, with the bound port (or none for 80),
  // letter case aside.
  bool mfIsAllowedHost(const std::string& hostHeader) const;

  // Connections from `address` now open or waiting (tests).
  std::size_t mfConnectionsFrom(const std::string& address) const;

private:
  class CWorkers;

  // Called by the accepting thread for each connection: admits it to the workers' queue or
  // refuses it at once (503), without waiting for anything.
  bool process_and_close_socket(socket_t sock) override;
  // Serves one admitted connection on a worker: its requests one after another
  // (keep-alive), each with the head's bounds and deadline.
  void mpServe(socket_t sock, const std::string& address);
  // The slot of a heavy or streamed request, or none when they are all taken.
  bool mfTakeSlot(const RouteBudget& budget, const std::string& address);
  void mpReleaseSlot(const RouteBudget& budget, const std::string& address);
  // Counts the connection from `closedAddress` closed, and returns freed memory to the system.
  void mpTrimFreedMemory(const std::string& closedAddress);

  Settings mSettings;
  std::string mListenHost;
  int mPort = 0;
  std::atomic<bool> mStopping{false};
  CWorkers* mWorkers = nullptr;  // owned by httplib's task queue
  mutable std::mutex mMutex;     // guards what follows
  std::map<std::string, std::size_t> mOpen;
  std::map<std::string, std::size_t> mStreams;
  std::size_t mHeavy = 0;
  std::size_t mStreamed = 0;
  std::chrono::steady_clock::time_point mLastTrim{};
};

}  // namespace TamblixHq::NODRA::Web
