// The ICMP and names port: IPv4 address parsing, host lookups and one ICMP
// echo, the pieces the reachability check is made of.
//
// On Windows the echo service is "ICMP.DLL", loaded at run time with its
// entry points looked up by name, and the names are Winsock 1.1's
// (inet_addr, gethostbyaddr, gethostbyname). Natively the echo goes through
// an ICMP datagram ("ping") socket, or a raw ICMP socket when the system
// refuses ping sockets to this user and the process may open raw ones; when
// neither can be opened the service is unavailable, which the caller treats
// as "every host answers". Lookups use the system resolver
// (gethostbyaddr_r / gethostbyname_r).
//
// Addresses are IPv4 addresses as they lie in memory in network byte order
// (the IPAddr / in_addr_t value): a.b.c.d has a in its lowest-addressed byte.

#ifndef WENDREL_PLATFORM_ICMP_H_
#define WENDREL_PLATFORM_ICMP_H_

#include <cstdint>
#include <memory>

namespace wendrel {
namespace platform {

// inet_addr: true with the address when `text` is an IPv4 address in any of
// the forms inet_addr accepts (a, a.b, a.b.c, a.b.c.d; each part decimal,
// 0-prefixed octal or 0x-prefixed hexadecimal). False otherwise, and for
// "255.255.255.255" in any spelling: inet_addr returns that address as its
// failure value (INADDR_NONE), so callers have never been able to tell the
// two apart and it does not count as an address. Needs no started service.
bool ParseIpv4Address(const char* text, uint32_t* address);

// The dotted decimal form of an address ("127.0.0.1").
void FormatIpv4Address(uint32_t address, char (&text)[16]);

// One open echo channel (IcmpCreateFile / an ICMP socket); closed by the
// destructor (IcmpCloseHandle / close).
class IcmpEcho {
 public:
  virtual ~IcmpEcho() = default;

  // One echo request to `address` with no data, time to live 255, type of
  // service 0, flags 0 and no IP options; waits at most `timeout_ms` for the
  // reply. True when a reply record came back, with its status (0 success,
  // else an IP_STATUS code such as 11003, destination host unreachable) in
  // *reply_status. False when nothing came back in time or the request could
  // not be sent; *reply_status is then left as it was.
  virtual bool SendEcho(uint32_t address, uint32_t timeout_ms, uint32_t* reply_status) = 0;
};

// The started ping service: on Windows the loaded ICMP library with its
// three entry points and the started Winsock 1.1; natively the kind of ICMP
// socket this process may open. Destroying it releases Winsock and unloads
// the library.
class PingService {
 public:
  // Starts the service; null when it is unavailable (Windows: "ICMP.DLL" or
  // one of its entry points missing, or Winsock not exactly version 1.1;
  // natively: neither ping nor raw ICMP sockets allowed). Nothing is left
  // loaded or started on failure.
  static std::unique_ptr<PingService> Start();

  virtual ~PingService() = default;

  // gethostbyaddr (4 bytes, AF_INET) / gethostbyname: true with the first
  // address of the host entry, false when there is no host entry. A reverse
  // lookup needs a name for the address (hosts file or DNS).
  virtual bool HostByAddress(uint32_t address, uint32_t* first) = 0;
  virtual bool HostByName(const char* name, uint32_t* first) = 0;

  // A new echo channel; null when none can be opened.
  virtual std::unique_ptr<IcmpEcho> OpenEcho() = 0;
};

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_ICMP_H_
