// Reachability and tree discovery: an ICMP echo to a host, and the tree name
// for what the user typed in the tree field (a dotted IPv4 address is pinged
// and asked for its tree name through the client's connection services;
// anything else is the tree name itself).

#ifndef WENDREL_DIRECTORY_REACHABILITY_H_
#define WENDREL_DIRECTORY_REACHABILITY_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace wendrel {

// The status of an unresolvable or unanswered host.
constexpr uint32_t kPingUnreachable = 0x8847;

// GetTree was given no room at all for the tree name (a null buffer or a
// capacity of 0).
constexpr uint32_t kTreeBufferTooSmall = 0x8848;

// Starts the ping service (ICMP library and socket library); without it every
// host counts as reachable.
void InitPing();
void ClosePing();

// Whether the ping service started: false before InitPing, after ClosePing
// and when it could not start. For diagnostics and tests.
bool PingAvailable();

// 0 when `host` answers an echo within `timeout_seconds`, kPingUnreachable
// otherwise (and 0 for any host while the ping service is unavailable).
uint32_t Ping(const std::string& host, uint32_t timeout_seconds);

// The tree name for `name` into `tree_out` (`tree_capacity` bytes, always
// terminated and never overrun; the driver's buffer holds 33). `name` is
// upper-cased in place when it is a dotted address. 0 on success; otherwise
// kPingUnreachable or a connection-services status, and tree_out untouched.
// A name that is not an address and does not fit is cut to
// tree_capacity - 1 bytes (see reachability.cc).
uint32_t GetTree(std::string& name, char* tree_out, size_t tree_capacity,
                 uint32_t timeout_seconds);

}  // namespace wendrel

#endif  // WENDREL_DIRECTORY_REACHABILITY_H_
