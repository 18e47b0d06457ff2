#include "apps/web/CWebServer.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include <nlohmann/json.hpp>

namespace TamblixHq::NODRA::Web {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

bool isIpLiteral(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    return ::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), address) == 1;
  }
  return ::inet_pton(AF_INET, host.c_str(), address) == 1;
}

// Waits until `fd` can be read or written (`events`) for at most `timeout`.
bool waitFor(int fd, short events, milliseconds timeout) {
  pollfd entry{fd, events, 0};
  const auto end = Clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now());
    const int n = ::poll(&entry, 1, static_cast<int>(std::max<milliseconds::rep>(0, left.count())));
    if (n > 0) return true;
    if (n == 0 || errno != EINTR) return false;
  }
}

// The numeric address of a socket's peer (or its own end), with its port.
bool addressOf(int fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  const int got = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  std::array<char, NI_MAXHOST> host{};
  std::array<char, NI_MAXSERV> service{};
  if (got != 0 || ::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host.data(), host.size(),
                                service.data(), service.size(), NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
    return false;
  }
  ip = host.data();
  port = std::atoi(service.data());
  return true;
}

// A connection's bytes for httplib, read through a buffer of its own. While a request's
// headers come in, every read waits no longer than their deadline: a client that sends
// them slowly cannot hold a thread for longer than that.
class CDeadlineStream final : public httplib::Stream {
public:
  CDeadlineStream(int fd, milliseconds readTimeout, milliseconds writeTimeout)
      : mFd(fd), mReadTimeout(readTimeout), mWriteTimeout(writeTimeout) {}

  void mpStartRequest(Clock::time_point deadline) {
    mDeadline = deadline;
    mHeadersDone = false;
  }
  void mpHeadersDone() { mHeadersDone = true; }
  // Asks that the connection end after the answer being written (its body is not read).
  void mpCloseAfterThisRequest() { mClose = true; }
  bool mfMustClose() const { return mClose; }
  bool mfHasBufferedBytes() const { return mBegin < mEnd; }

  bool is_readable() const override { return mBegin < mEnd || mfWaitReadable(); }
  bool is_writable() const override { return waitFor(mFd, POLLOUT, mWriteTimeout); }

  ssize_t read(char* to, size_t size) override {
    if (mBegin == mEnd) {
      if (!mfWaitReadable()) return -1;
      ssize_t n;
      do {
        n = ::recv(mFd, mBuffer.data(), mBuffer.size(), 0);
      } while (n < 0 && errno == EINTR);
      if (n <= 0) return n;
      mBegin = 0;
      mEnd = static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(size, mEnd - mBegin);
    std::memcpy(to, mBuffer.data() + mBegin, n);
    mBegin += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* from, size_t size) override {
    if (!is_writable()) return -1;
    ssize_t n;
    do {
      n = ::send(mFd, from, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override { addressOf(mFd, true, ip, port); }
  void get_local_ip_and_port(std::string& ip, int& port) const override { addressOf(mFd, false, ip, port); }
  socket_t socket() const override { return mFd; }

private:
  bool mfWaitReadable() const {
    milliseconds timeout = mReadTimeout;
    if (!mHeadersDone) {
      const auto left = std::chrono::duration_cast<milliseconds>(mDeadline - Clock::now());
      if (left.count() <= 0) return false;
      timeout = std::min(timeout, left);
    }
    return waitFor(mFd, POLLIN, timeout);
  }

  int mFd;
  milliseconds mReadTimeout, mWriteTimeout;
  Clock::time_point mDeadline{};
  bool mHeadersDone = true;
  bool mClose = false;
  std::array<char, 4096> mBuffer{};
  std::size_t mBegin = 0, mEnd = 0;
};

// The stream of the request this thread serves, for the pre-routing check.
thread_local CDeadlineStream* tStream = nullptr;

void refuse(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_content(nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                       "application/json");
}

}  // namespace

CWebServer::CWebServer(Settings settings) : mSettings(std::move(settings)) {
  std::set<std::string> hosts;
  for (const std::string& host : mSettings.allowedHosts) hosts.insert(lowered(host));
  mSettings.allowedHosts = std::move(hosts);
  const std::size_t threads = mSettings.threads;
  new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // No request has a body: one that comes with a length or in chunks is refused unread.
  set_payload_max_length(0);
  // SO_REUSEADDR alone: a second server on the port fails to bind instead of sharing it.
  set_socket_options([](socket_t sock) {
    int yes = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  set_default_headers({{"X-Content-Type-Options", "nosniff"},
                       {"X-Frame-Options", "DENY"},
                       {"Referrer-Policy", "no-referrer"},
                       {"Content-Security-Policy",
                        "default-src 'self'; img-src 'self' data: blob:; style-src 'self' 'unsafe-inline'; "
                        "object-src 'none'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"}});
  set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (!mfIsAllowedHost(request.get_header_value("Host"))) {
      refuse(response, 421, "this server does not answer to the host name \"" +
                                request.get_header_value("Host") + "\" (nodra-web --allow-host NAME)");
      return HandlerResponse::Handled;
    }
    const bool body = request.has_header("Transfer-Encoding") ||
                      (request.has_header("Content-Length") && request.get_header_value("Content-Length") != "0");
    if (request.method != "GET" && request.method != "HEAD") {
      response.set_header("Allow", "GET, HEAD");
      refuse(response, 405, "only GET and HEAD are answered");
      if (tStream && body) tStream->mpCloseAfterThisRequest();
      return HandlerResponse::Handled;
    }
    if (body) {
      refuse(response, 413, "requests have no body here");
      if (tStream) tStream->mpCloseAfterThisRequest();
      return HandlerResponse::Handled;
    }
    return HandlerResponse::Unhandled;
  });
}

int CWebServer::mfBind(const std::string& host, int port) {
  const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
  if (bound > 0) {
    mListenHost = lowered(host.find(':') != std::string::npos ? "[" + host + "]" : host);
    mPort = bound;
  }
  return bound;
}

bool CWebServer::mfIsAllowedHost(const std::string& hostHeader) const {
  if (hostHeader.empty()) return true;
  std::string host = lowered(hostHeader);
  int port = 80;
  const std::size_t colon = host.rfind(':');
  if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
    const std::string digits = host.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
    port = std::stoi(digits);
    host.erase(colon);
  }
  if (port != mPort) return false;
  return isIpLiteral(host) || host == "localhost" || host == mListenHost || mSettings.allowedHosts.count(host) > 0;
}

std::size_t CWebServer::mfConnectionsFrom(const std::string& address) const {
  std::lock_guard<std::mutex> lock(mMutex);
  const auto found = mOpen.find(address);
  return found == mOpen.end() ? 0 : found->second;
}

bool CWebServer::process_and_close_socket(socket_t sock) {
  std::string address;
  int peerPort = 0;
  addressOf(sock, true, address, peerPort);
  bool admitted = false;
  {
    std::lock_guard<std::mutex> lock(mMutex);
    std::size_t& open = mOpen[address];
    if (open < mSettings.connectionsPerAddress) {
      ++open;
      admitted = true;
    }
  }
  bool ok = false;
  if (admitted) {
    CDeadlineStream stream(sock, milliseconds(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                           milliseconds(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
    tStream = &stream;
    for (std::size_t count = keep_alive_max_count_; count > 0; --count) {
      // A request's headers get their deadline from its first byte on.
      if (!stream.mfHasBufferedBytes() && !waitFor(sock, POLLIN, milliseconds(keep_alive_timeout_sec_ * 1000))) break;
      stream.mpStartRequest(Clock::now() + mSettings.headerDeadline);
      bool closed = false;
      ok = process_request(stream, count == 1, closed, [&stream](httplib::Request&) { stream.mpHeadersDone(); });
      if (!ok || closed || stream.mfMustClose()) break;
    }
    tStream = nullptr;
    std::lock_guard<std::mutex> lock(mMutex);
    if (--mOpen[address] == 0) mOpen.erase(address);
  } else {
    static const std::string kBody = "{\"error\":\"too many connections from one address\"}";
    static const std::string kBusy = "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n"
                                     "Content-Type: application/json\r\nContent-Length: " +
                                     std::to_string(kBody.size()) + "\r\n\r\n" + kBody;
    const ssize_t sent = ::send(sock, kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    (void)sent;
  }
  ::shutdown(sock, SHUT_RDWR);
  ::close(sock);
  return ok;
}

}  // namespace TamblixHq::NODRA::Web
