#include "apps/web/CWebServer.h"

#include <arpa/inet.h>
#include <malloc.h>
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

// Whether the client has closed its side of `fd`: the end of its bytes with none left to
// read, or an error. A request whose client left has nobody to answer.
bool peerClosed(int fd) {
  pollfd entry{fd, POLLIN | POLLRDHUP, 0};
  if (::poll(&entry, 1, 0) <= 0) return false;
  if ((entry.revents & (POLLHUP | POLLERR | POLLRDHUP)) != 0) return true;
  char byte;
  return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

// Sends `status` with {"error": message} and Connection: close, without waiting: what a
// refused connection gets before it is closed.
void sendRefusal(int fd, int status, const char* reason, const std::string& message) {
  const std::string body = nlohmann::json{{"error", message}}.dump();
  const std::string text = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                           "\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body;
  const ssize_t sent = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  (void)sent;
}

void closeSocket(int fd) {
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
}

// A connection's bytes for httplib, read through a buffer of its own. While a request's
// head comes in, every read waits no longer than the head's deadline, and its bytes are
// counted as they are handed out: a line or a head beyond its bound is refused (414 for
// the request line, 431 otherwise) before httplib stores more of it.
class CDeadlineStream final : public httplib::Stream {
public:
  CDeadlineStream(int fd, milliseconds readTimeout, milliseconds writeTimeout)
      : mFd(fd), mReadTimeout(readTimeout), mWriteTimeout(writeTimeout) {}

  void mpStartRequest(Clock::time_point deadline) {
    mDeadline = deadline;
    mHeadersDone = false;
    mHeadBytes = mLineBytes = mLines = 0;
  }
  void mpHeadersDone() { mHeadersDone = true; }
  // Asks that the connection end after the answer being written.
  void mpCloseAfterThisRequest() { mClose = true; }
  bool mfMustClose() const { return mClose || mRefused; }
  bool mfHasBufferedBytes() const { return mBegin < mEnd; }

  bool is_readable() const override { return !mRefused && (mBegin < mEnd || mfWaitReadable()); }
  bool is_writable() const override { return !mRefused && waitFor(mFd, POLLOUT, mWriteTimeout); }

  ssize_t read(char* to, size_t size) override {
    if (mRefused) return -1;
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
    std::size_t n = std::min(size, mEnd - mBegin);
    if (!mHeadersDone) n = mfCountHead(n);
    if (n == 0) return -1;
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

  // How many of the next `n` buffered bytes of the head may be handed out: all of them
  // while the head keeps its bounds; otherwise the refusal is sent and none are.
  std::size_t mfCountHead(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      ++mHeadBytes;
      if (mBuffer[mBegin + i] == '\n') {
        ++mLines;
        mLineBytes = 0;
      } else {
        ++mLineBytes;
      }
      if (mLineBytes > CWebServer::kMaxHeaderLine && mLines == 0) {
        mpRefuse(414, "URI Too Long", "the request line is longer than " +
                                          std::to_string(CWebServer::kMaxHeaderLine) + " bytes");
        return 0;
      }
      if (mLineBytes > CWebServer::kMaxHeaderLine || mHeadBytes > CWebServer::kMaxHeaderBytes ||
          mLines > CWebServer::kMaxHeaderLines) {
        mpRefuse(431, "Request Header Fields Too Large",
                 "a request's head holds at most " + std::to_string(CWebServer::kMaxHeaderLines) + " lines of " +
                     std::to_string(CWebServer::kMaxHeaderLine) + " bytes, " +
                     std::to_string(CWebServer::kMaxHeaderBytes) + " bytes in all");
        return 0;
      }
    }
    return n;
  }

  void mpRefuse(int status, const char* reason, const std::string& message) {
    sendRefusal(mFd, status, reason, message);
    mRefused = true;
  }

  int mFd;
  milliseconds mReadTimeout, mWriteTimeout;
  Clock::time_point mDeadline{};
  bool mHeadersDone = true;
  bool mClose = false;
  bool mRefused = false;  // an answer of ours was sent: nothing more is read or written
  std::size_t mHeadBytes = 0, mLineBytes = 0, mLines = 0;
  std::array<char, 4096> mBuffer{};
  std::size_t mBegin = 0, mEnd = 0;
};

// The stream of the request this thread serves, for the checks around the routes.
thread_local CDeadlineStream* tStream = nullptr;

void refuse(httplib::Response& response, int status, const std::string& message) {
  response.status = status;
  response.set_content(nlohmann::json{{"error", message}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                       "application/json");
}

// Refusals end their connection: what the client sends after one (a body, say) is never
// read as a request.
bool closesConnection(int status) {
  return status == 400 || status == 405 || status == 413 || status == 414 || status == 421 || status == 431 ||
         status == 503;
}

// Answers compressed only where compressing is cheap: gzip (never the slower brotli), and
// never for streamed values, whose bytes barely shrink and would cost a core each.
void chooseEncoding(httplib::Request& request) {
  const std::string accepted = request.get_header_value("Accept-Encoding");
  request.headers.erase("Accept-Encoding");
  if (accepted.find("gzip") != std::string::npos && request.path.rfind("/api/values", 0) != 0) {
    request.headers.emplace("Accept-Encoding", "gzip");
  }
}

}  // namespace

// The workers of admitted connections, with a bounded queue. httplib hands each accepted
// connection to enqueue on its accepting thread: the admission runs there at once.
class CWebServer::CWorkers final : public httplib::TaskQueue {
public:
  CWorkers(std::size_t threads, std::size_t queued) : mQueued(queued) {
    for (std::size_t i = 0; i < threads; ++i) mThreads.emplace_back([this] { mpRun(); });
  }

  void enqueue(std::function<void()> admit) override { admit(); }

  // Queues `job`; false when the queue is full.
  bool mfPush(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      if (mJobs.size() >= mQueued) return false;
      mJobs.push_back(std::move(job));
    }
    mWake.notify_one();
    return true;
  }

  // Runs what is queued (each job ends at once when the server stops) and joins.
  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mShutdown = true;
    }
    mWake.notify_all();
    for (std::thread& thread : mThreads) thread.join();
    mThreads.clear();
  }

private:
  void mpRun() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mMutex);
        mWake.wait(lock, [this] { return mShutdown || !mJobs.empty(); });
        if (mJobs.empty()) return;
        job = std::move(mJobs.front());
        mJobs.pop_front();
      }
      job();
    }
  }

  const std::size_t mQueued;
  std::vector<std::thread> mThreads;
  std::mutex mMutex;
  std::condition_variable mWake;
  std::deque<std::function<void()>> mJobs;
  bool mShutdown = false;
};

CWebServer::CWebServer(Settings settings) : mSettings(std::move(settings)) {
  std::set<std::string> hosts;
  for (const std::string& host : mSettings.allowedHosts) hosts.insert(lowered(host));
  mSettings.allowedHosts = std::move(hosts);
  new_task_queue = [this] {
    mWorkers = new CWorkers(mSettings.threads, mSettings.queued);
    return mWorkers;
  };
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
    if (request.method != "GET" && request.method != "HEAD") {
      response.set_header("Allow", "GET, HEAD");
      refuse(response, 405, "only GET and HEAD are answered");
      return HandlerResponse::Handled;
    }
    if (request.has_header("Transfer-Encoding") ||
        (request.has_header("Content-Length") && request.get_header_value("Content-Length") != "0")) {
      refuse(response, 413, "requests have no body here");
      return HandlerResponse::Handled;
    }
    return HandlerResponse::Unhandled;
  });
  // Called once an answer is written, refusals included.
  set_logger([](const httplib::Request&, const httplib::Response& response) {
    if (tStream && closesConnection(response.status)) tStream->mpCloseAfterThisRequest();
  });
}

CWebServer::~CWebServer() = default;

void CWebServer::mpRoute(const std::string& pattern, const RouteBudget& budget, Handler handler) {
  Get(pattern, [this, budget, handler = std::move(handler)](const httplib::Request& request,
                                                             httplib::Response& response) {
    const std::string address = request.remote_addr;
    if (!mfTakeSlot(budget, address)) {
      refuse(response, 503,
             budget.mStreamed
                 ? "this address already reads " + std::to_string(mSettings.streamsPerAddress) +
                       " streamed answers at once (nodra-web --streams-per-address)"
                 : "the viewer is busy with " + std::to_string(mSettings.heavyRequests) +
                       " requests that read whole channels; try again in a moment (nodra-web --heavy-requests)");
      response.set_header("Retry-After", "1");
      return;
    }
    const int fd = tStream ? tStream->socket() : -1;
    const RequestBudget requestBudget = std::make_shared<CRequestBudget>(
        budget, mSettings.requestDeadline,
        [fd] { return fd >= 0 && peerClosed(fd); }, mStopping,
        [this, budget, address] { mpReleaseSlot(budget, address); });
    handler(request, response, requestBudget);
  });
}

void CWebServer::mpServeFiles(const std::string& mountPoint, const std::string& directory) {
  set_mount_point(mountPoint, directory);
}

void CWebServer::mpSetErrorHandler(httplib::Server::HandlerWithResponse error) {
  set_error_handler(std::move(error));
}

int CWebServer::mfBind(const std::string& host, int port) {
  const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
  if (bound > 0) {
    mListenHost = lowered(host.find(':') != std::string::npos ? "[" + host + "]" : host);
    mPort = bound;
  }
  return bound;
}

bool CWebServer::mpListen() { return listen_after_bind(); }

void CWebServer::mpStop() {
  mStopping = true;
  stop();
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

bool CWebServer::mfTakeSlot(const RouteBudget& budget, const std::string& address) {
  std::lock_guard<std::mutex> lock(mMutex);
  if (budget.mHeavy && mHeavy >= mSettings.heavyRequests) return false;
  if (budget.mStreamed) {
    const std::size_t streams = mStreams.count(address) ? mStreams[address] : 0;
    // Streams of all addresses together leave half the workers to everything else.
    if (streams >= mSettings.streamsPerAddress || mStreamed >= std::max<std::size_t>(1, mSettings.threads / 2)) {
      return false;
    }
    ++mStreams[address];
    ++mStreamed;
  }
  if (budget.mHeavy) ++mHeavy;
  return true;
}

void CWebServer::mpReleaseSlot(const RouteBudget& budget, const std::string& address) {
  std::lock_guard<std::mutex> lock(mMutex);
  if (budget.mHeavy) --mHeavy;
  if (budget.mStreamed) {
    --mStreamed;
    if (--mStreams[address] == 0) mStreams.erase(address);
  }
}

bool CWebServer::process_and_close_socket(socket_t sock) {
  std::string address;
  int peerPort = 0;
  addressOf(sock, true, address, peerPort);
  {
    std::lock_guard<std::mutex> lock(mMutex);
    std::size_t& open = mOpen[address];
    if (open >= mSettings.connectionsPerAddress) {
      sendRefusal(sock, 503, "Service Unavailable", "too many connections from one address");
      closeSocket(sock);
      return false;
    }
    ++open;
  }
  if (mWorkers && mWorkers->mfPush([this, sock, address] { mpServe(sock, address); })) return true;
  sendRefusal(sock, 503, "Service Unavailable", "the viewer has too many connections waiting");
  closeSocket(sock);
  std::lock_guard<std::mutex> lock(mMutex);
  if (--mOpen[address] == 0) mOpen.erase(address);
  return false;
}

void CWebServer::mpServe(socket_t sock, const std::string& address) {
  CDeadlineStream stream(sock, milliseconds(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                         milliseconds(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
  tStream = &stream;
  for (std::size_t count = keep_alive_max_count_; count > 0 && !mStopping; --count) {
    // Waits for the next request in short steps, so that a stop is seen at once.
    bool ready = stream.mfHasBufferedBytes();
    for (auto waited = milliseconds(0); !ready && !mStopping && waited.count() < keep_alive_timeout_sec_ * 1000;
         waited += milliseconds(250)) {
      ready = waitFor(sock, POLLIN, milliseconds(250));
    }
    if (!ready || mStopping) break;
    // A request's head gets its deadline from its first byte on.
    stream.mpStartRequest(Clock::now() + mSettings.headerDeadline);
    bool closed = false;
    const bool ok = process_request(stream, count == 1, closed, [&stream](httplib::Request& request) {
      stream.mpHeadersDone();
      chooseEncoding(request);
    });
    if (!ok || closed || stream.mfMustClose()) break;
  }
  tStream = nullptr;
  closeSocket(sock);
  mpTrimFreedMemory(address);
}

// glibc keeps what a thread freed in that thread's arena: after a burst of large answers
// the process would stay at its peak. Giving it back costs little at most once a second,
// and when the last connection ends.
void CWebServer::mpTrimFreedMemory(const std::string& closedAddress) {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    if (--mOpen[closedAddress] == 0) mOpen.erase(closedAddress);
    const auto now = Clock::now();
    if (!mOpen.empty() && now - mLastTrim < std::chrono::seconds(1)) return;
    mLastTrim = now;
  }
  ::malloc_trim(0);
}

}  // namespace TamblixHq::NODRA::Web
