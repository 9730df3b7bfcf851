// The ICMP and names port natively: ICMP datagram ("ping") sockets, raw ICMP
// sockets when ping sockets are refused, and the system resolver.

#include "platform/icmp.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace wendrel {
namespace platform {

bool ParseIpv4Address(const char* text, uint32_t* address) {
  // inet_aton accepts exactly inet_addr's forms; inet_addr itself cannot be
  // used because it returns 255.255.255.255 for failure. Keep that quirk:
  // the broadcast address does not count as an address.
  in_addr parsed;
  if (text == nullptr || inet_aton(text, &parsed) == 0) return false;
  if (parsed.s_addr == INADDR_NONE) return false;
  *address = parsed.s_addr;
  return true;
}

namespace {

// IP_STATUS codes reported in a reply record, as the Windows service does.
constexpr uint32_t kIpDestNetUnreachable = 11002;
constexpr uint32_t kIpDestHostUnreachable = 11003;
constexpr uint32_t kIpGeneralFailure = 11050;

constexpr int kTimeToLive = 255;

// Owner of one socket descriptor.
class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

uint16_t Checksum(const unsigned char* data, size_t size) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += (data[i] << 8) | data[i + 1];
  if (size % 2 != 0) sum += data[size - 1] << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return htons(static_cast<uint16_t>(~sum));
}

uint32_t StatusOfError(int error) {
  if (error == ENETUNREACH) return kIpDestNetUnreachable;
  if (error == EHOSTUNREACH || error == ECONNREFUSED) return kIpDestHostUnreachable;
  return kIpGeneralFailure;
}

class PosixEcho : public IcmpEcho {
 public:
  PosixEcho(int fd, bool raw) : socket_(fd), raw_(raw) {}

  bool SendEcho(uint32_t address, uint32_t timeout_ms, uint32_t* reply_status) override {
    int ttl = kTimeToLive;
    int tos = 0;
    setsockopt(socket_.fd(), IPPROTO_IP, IP_TTL, &ttl, sizeof(ttl));
    setsockopt(socket_.fd(), IPPROTO_IP, IP_TOS, &tos, sizeof(tos));

    // The bare 8-byte header: no payload. A ping socket replaces the
    // identifier with its own and fills in the checksum; a raw socket sends
    // exactly these bytes.
    static std::atomic<uint16_t> next_sequence{1};
    const uint16_t sequence = next_sequence++;
    const uint16_t identifier = static_cast<uint16_t>(getpid());
    unsigned char request[8] = {ICMP_ECHO, 0, 0, 0};
    uint16_t id_net = htons(identifier);
    uint16_t seq_net = htons(sequence);
    std::memcpy(request + 4, &id_net, 2);
    std::memcpy(request + 6, &seq_net, 2);
    uint16_t sum = Checksum(request, sizeof(request));
    std::memcpy(request + 2, &sum, 2);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    if (sendto(socket_.fd(), request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof(to)) < 0) {
      return false;
    }

    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    unsigned char reply[1500];
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{socket_.fd(), POLLIN, 0};
      int ready = poll(&p, 1, left > INT32_MAX ? INT32_MAX : static_cast<int>(left));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return false;
      sockaddr_in from{};
      socklen_t from_size = sizeof(from);
      ssize_t got = recvfrom(socket_.fd(), reply, sizeof(reply), 0,
                             reinterpret_cast<sockaddr*>(&from), &from_size);
      if (got < 0) {
        if (errno == EINTR || errno == EAGAIN) continue;
        // A ping socket reports an ICMP error for its request this way.
        *reply_status = StatusOfError(errno);
        return true;
      }
      const unsigned char* icmp = reply;
      size_t size = static_cast<size_t>(got);
      if (raw_) {
        // A raw socket sees every ICMP message with its IP header,
        // including other processes' traffic and, on loopback, our own
        // request: take only the echo reply to this request.
        if (size < 20) continue;
        size_t header = static_cast<size_t>(reply[0] & 0x0F) * 4;
        if (header < 20 || size < header + 8) continue;
        icmp += header;
        size -= header;
        if (std::memcmp(icmp + 4, &id_net, 2) != 0) continue;
      }
      if (size < 8 || icmp[0] != ICMP_ECHOREPLY || from.sin_addr.s_addr != address) continue;
      if (std::memcmp(icmp + 6, &seq_net, 2) != 0) continue;
      *reply_status = 0;
      return true;
    }
  }

 private:
  Socket socket_;
  bool raw_;
};

class PosixPingService : public PingService {
 public:
  explicit PosixPingService(bool raw) : raw_(raw) {}

  bool HostByAddress(uint32_t address, uint32_t* first) override {
    hostent entry;
    hostent* result = nullptr;
    int error = 0;
    std::vector<char> buffer(1024);
    for (;;) {
      int rc = gethostbyaddr_r(&address, sizeof(address), AF_INET, &entry, buffer.data(),
                               buffer.size(), &result, &error);
      if (rc == ERANGE && buffer.size() < 65536) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      break;
    }
    return FirstAddress(result, first);
  }

  bool HostByName(const char* name, uint32_t* first) override {
    hostent entry;
    hostent* result = nullptr;
    int error = 0;
    std::vector<char> buffer(1024);
    for (;;) {
      int rc = gethostbyname2_r(name, AF_INET, &entry, buffer.data(), buffer.size(), &result,
                                &error);
      if (rc == ERANGE && buffer.size() < 65536) {
        buffer.resize(buffer.size() * 2);
        continue;
      }
      break;
    }
    return FirstAddress(result, first);
  }

  std::unique_ptr<IcmpEcho> OpenEcho() override {
    int fd = socket(AF_INET, raw_ ? SOCK_RAW : SOCK_DGRAM, IPPROTO_ICMP);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixEcho>(fd, raw_);
  }

 private:
  static bool FirstAddress(const hostent* entry, uint32_t* first) {
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
      return false;
    }
    std::memcpy(first, entry->h_addr_list[0], 4);
    return true;
  }

  bool raw_;
};

}  // namespace

std::unique_ptr<PingService> PingService::Start() {
  // Ping sockets need the process's group in net.ipv4.ping_group_range;
  // raw sockets need CAP_NET_RAW. Try them in that order and keep neither
  // open: each echo opens its own, as each Windows echo opens its handle.
  Socket ping(socket(AF_INET, SOCK_DGRAM, IPPROTO_ICMP));
  if (ping.valid()) return std::make_unique<PosixPingService>(false);
  Socket raw(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
  if (raw.valid()) return std::make_unique<PosixPingService>(true);
  return nullptr;
}

}  // namespace platform
}  // namespace wendrel
