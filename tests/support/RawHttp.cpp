#include "tests/support/RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <regex>

namespace nodra::test {

using Clock = std::chrono::steady_clock;

int mfConnectFrom(const std::string& source, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{}, remote{};
  local.sin_family = remote.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  remote.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

std::string mfReadAll(int fd, std::chrono::milliseconds timeout) {
  std::string text;
  const auto end = Clock::now() + timeout;
  char buffer[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    pollfd entry{fd, POLLIN, 0};
    if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

bool mfPeerClosed(int fd, std::chrono::milliseconds timeout) {
  mfReadAll(fd, timeout);
  pollfd entry{fd, POLLIN, 0};
  char byte;
  return ::poll(&entry, 1, 0) > 0 && ::recv(fd, &byte, 1, MSG_DONTWAIT) <= 0;
}

std::string mfRoundTrip(int port, const std::string& request, const std::string& source,
                        std::chrono::milliseconds timeout) {
  const int fd = mfConnectFrom(source, port);
  if (fd < 0) return "";
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  const std::string response = mfReadAll(fd, timeout);
  ::close(fd);
  return response;
}

int mfStatusOf(const std::string& response) {
  std::smatch match;
  return std::regex_search(response, match, std::regex("^HTTP/1\\.[01] ([0-9]{3})")) ? std::stoi(match[1]) : 0;
}

std::string mfGetRequest(const std::string& target, const std::string& host) {
  return "GET " + target + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n";
}

}  // namespace nodra::test
