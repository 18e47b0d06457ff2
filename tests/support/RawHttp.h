// HTTP as a careless or hostile client speaks it: raw bytes over a TCP connection from any
// loopback address, and what came back within a time.
#pragma once

#include <chrono>
#include <string>

namespace nodra::test {

// A TCP connection to 127.0.0.1:`port` from the loopback address `source` (any of 127/8),
// or -1.
int mfConnectFrom(const std::string& source, int port);

// What the peer sends until it closes or `timeout` passes.
std::string mfReadAll(int fd, std::chrono::milliseconds timeout);

// Whether the peer has closed the connection (reading what is left first, up to `timeout`).
bool mfPeerClosed(int fd, std::chrono::milliseconds timeout);

// Sends `request` from `source` and answers the whole response (the server closes), or what
// came within `timeout`.
std::string mfRoundTrip(int port, const std::string& request, const std::string& source = "127.0.0.1",
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));

// The status of the first response in `response`; 0 when there is none.
int mfStatusOf(const std::string& response);

// GET `target` with Host `host` and Connection: close.
std::string mfGetRequest(const std::string& target, const std::string& host);

}  // namespace nodra::test
