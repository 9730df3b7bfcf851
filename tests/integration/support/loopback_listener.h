// A loopback TCP listener that a test plays a server with (POSIX only). With
// backlog 0 and connections never accepted, the accept queue fills and
// further connection attempts are dropped: a client's connect goes unanswered.

#ifndef WENDREL_TESTS_INTEGRATION_SUPPORT_LOOPBACK_LISTENER_H_
#define WENDREL_TESTS_INTEGRATION_SUPPORT_LOOPBACK_LISTENER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace wendrel {
namespace testing {

class Listener {
 public:
  explicit Listener(int backlog) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in addr = Loopback(0);
    socklen_t len = sizeof(addr);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), len);
    listen(fd_, backlog);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~Listener() {
    for (int fd : fds_) close(fd);
    close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  int port() const { return port_; }

  // Accepts one connection within `ms`; its fd or -1.
  int Accept(int ms) {
    pollfd p = {fd_, POLLIN, 0};
    if (poll(&p, 1, ms) != 1) return -1;
    fds_.push_back(accept(fd_, nullptr, nullptr));
    return fds_.back();
  }
  // Accepts one connection within `ms`, reads what the client sends first
  // and hangs up.
  void AcceptAndHangUp(int ms) {
    const int fd = Accept(ms);
    char hello[512];
    if (fd >= 0 && recv(fd, hello, sizeof(hello), 0) >= 0) shutdown(fd, SHUT_RDWR);
  }
  // Fills the accept queue with connections nobody accepts.
  void FillQueue(int count) {
    for (int i = 0; i < count; ++i) {
      fds_.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
      const sockaddr_in addr = Loopback(port_);
      connect(fds_.back(), reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    }
    usleep(200 * 1000);  // lets the kernel finish (or drop) the handshakes
  }

 private:
  static sockaddr_in Loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
  }

  int fd_;
  int port_ = 0;
  std::vector<int> fds_;  // accepted and connecting
};

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_SUPPORT_LOOPBACK_LISTENER_H_
