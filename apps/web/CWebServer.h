// The viewer's HTTP server, made to face a network it does not trust: it answers only the
// host names it is reached under (no DNS rebinding), only GET and HEAD without a body, with
// headers that keep its answers out of other sites' pages; it gives each request a total
// deadline for its headers, bounds the connections of one client address, and binds its
// port exclusively. Routes are added as on any httplib::Server. Safe to share between the
// request threads it runs.
#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <set>
#include <string>

namespace TamblixHq::NODRA::Web {

class CWebServer : public httplib::Server {
public:
  struct Settings {
    std::set<std::string> allowedHosts;           // names beside localhost, IP literals and the listen host
    std::chrono::milliseconds headerDeadline{10000};  // from a request's first byte to its last header
    std::size_t connectionsPerAddress = 16;       // open at once from one client address
    std::size_t threads = 48;                     // requests served at once
  };

  explicit CWebServer(Settings settings);

  // Binds `host`:`port` (port 0: any free one) exclusively and remembers the host and the
  // port for the Host check. Answers the port, or -1 when the address cannot be bound
  // (in use, say), with errno set.
  int mfBind(const std::string& host, int port);

  // Whether a request's Host header names this server: empty (HTTP/1.0), an IP literal,
  // "localhost", the listen host or an allowed name, with the bound port (or none for 80),
  // letter case aside.
  bool mfIsAllowedHost(const std::string& hostHeader) const;

  // Connections from `address` now open (tests).
  std::size_t mfConnectionsFrom(const std::string& address) const;

private:
  // Serves one accepted connection: its requests one after another (keep-alive), each with
  // the headers' deadline, unless its address has too many open already.
  bool process_and_close_socket(socket_t sock) override;

  Settings mSettings;
  std::string mListenHost;
  int mPort = 0;
  mutable std::mutex mMutex;  // guards mOpen
  std::map<std::string, std::size_t> mOpen;
};

}  // namespace TamblixHq::NODRA::Web
