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

TcpConnectOutcome OutcomeOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return TcpConnectOutcome::kRefused;
    case WSAETIMEDOUT:
      return TcpConnectOutcome::kNoAnswer;
    default:
      return TcpConnectOutcome::kFailed;
  }
}

// One non-blocking connect to one address, finished by the deadline.
TcpConnectOutcome ConnectOne(const addrinfo& address, Clock::time_point deadline) {
  Socket s(socket(address.ai_family, address.ai_socktype, address.ai_protocol));
  if (s.get() == INVALID_SOCKET) return TcpConnectOutcome::kFailed;
  u_long non_blocking = 1;
  if (ioctlsocket(s.get(), FIONBIO, &non_blocking) != 0) return TcpConnectOutcome::kFailed;
  if (connect(s.get(), address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
    return TcpConnectOutcome::kConnected;
  }
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return OutcomeOf(error);
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
  if (left.count() < 0) return TcpConnectOutcome::kNoAnswer;
  timeval tv = {static_cast<long>(left.count() / 1000000),
                static_cast<long>(left.count() % 1000000)};
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s.get(), &writable);
  FD_SET(s.get(), &failed);
  const int ready = select(0, nullptr, &writable, &failed, &tv);
  if (ready == 0) return TcpConnectOutcome::kNoAnswer;
  if (ready < 0) return TcpConnectOutcome::kFailed;
  if (FD_ISSET(s.get(), &writable) && !FD_ISSET(s.get(), &failed)) {
    return TcpConnectOutcome::kConnected;
  }
  // A failed connect reports its reason through SO_ERROR.
  int reason = 0;
  int size = sizeof(reason);
  if (getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&reason), &size) != 0) {
    return TcpConnectOutcome::kFailed;
  }
  return OutcomeOf(reason);
}

}  // namespace

TcpConnectOutcome ProbeTcpConnection(const std::string& host, int port, int timeout_ms,
                                     int* elapsed_ms) {
  const Clock::time_point start = Clock::now();
  *elapsed_ms = 0;
  if (port <= 0 || port > 65535 || timeout_ms < 0) return TcpConnectOutcome::kFailed;
  WinsockSession winsock;
  if (!winsock.started()) return TcpConnectOutcome::kFailed;
  const Clock::time_point deadline = start + std::chrono::milliseconds(timeout_ms);
  addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  TcpConnectOutcome outcome = TcpConnectOutcome::kNoAnswer;
  if (lookup == WSAHOST_NOT_FOUND || lookup == WSANO_DATA) {
    outcome = TcpConnectOutcome::kUnknownName;
  } else if (lookup != 0) {
    outcome = TcpConnectOutcome::kFailed;
  } else {
    for (addrinfo* a = found; a != nullptr && Clock::now() < deadline; a = a->ai_next) {
      outcome = ConnectOne(*a, deadline);
      if (outcome == TcpConnectOutcome::kConnected) break;
    }
    freeaddrinfo(found);
  }
  *elapsed_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  return outcome;
}

}  // namespace platform
}  // namespace wendrel
