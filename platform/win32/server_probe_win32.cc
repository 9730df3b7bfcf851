// The TCP half of the server probe on Windows: a non-blocking Winsock
// connect bounded by select(). The certificate half lives with the LDAP
// port (ldap_win32.cc), whose server-certificate callback it shares.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <string>

#include "platform/server_probe.h"

namespace wendrel {
namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// Winsock for the life of one probe.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

class Socket {
 public:
  explicit Socket(SOCKET s) : s_(s) {}
  ~Socket() {
    if (s_ != INVALID_SOCKET) closesocket(s_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  SOCKET get() const { return s_; }

 private:
  SOCKET s_;
};

bool ConnectOne(const addrinfo& address, Clock::time_point deadline) {
  Socket s(socket(address.ai_family, address.ai_socktype, address.ai_protocol));
  if (s.get() == INVALID_SOCKET) return false;
  u_long non_blocking = 1;
  if (ioctlsocket(s.get(), FIONBIO, &non_blocking) != 0) return false;
  if (connect(s.get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return true;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() < 0) return false;
  timeval tv = {static_cast<long>(left.count() / 1000000),
                static_cast<long>(left.count() % 1000000)};
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s.get(), &writable);
  FD_SET(s.get(), &failed);
  if (select(0, nullptr, &writable, &failed, &tv) <= 0) return false;
  return FD_ISSET(s.get(), &writable) && !FD_ISSET(s.get(), &failed);
}

}  // namespace

bool ProbeTcpConnection(const std::string& host, int port, int timeout_ms, int* elapsed_ms) {
  if (port <= 0 || port > 65535 || timeout_ms < 0) return false;
  WinsockSession winsock;
  if (!winsock.started()) return false;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(timeout_ms);
  addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a != nullptr && !ok && Clock::now() < deadline; a = a->ai_next) {
    ok = ConnectOne(*a, deadline);
  }
  freeaddrinfo(found);
  if (ok) {
    *elapsed_ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  }
  return ok;
}

}  // namespace platform
}  // namespace wendrel
