#include "directory/reachability.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "directory/tree_name.h"
#include "platform/icmp.h"
#include "standins/connection_services.h"

namespace wendrel {
namespace {

// The ping state: null while ping is unavailable. Set at start-up before
// the login thread runs and cleared at termination, so it needs no lock. It
// is a plain pointer on purpose: released by ClosePing, never by a static
// destructor, because unloading ICMP.DLL from inside the library's own
// unload (DllMain) is not allowed.
platform::PingService* g_ping = nullptr;

// What QZCCOpenConnByName is asked for: a name in this format, a
// connection in this state, any transport.
constexpr uint32_t kNameFormat = 0x8002;
constexpr uint32_t kOpenState = 2;
constexpr uint32_t kAnyTransport = 0;
constexpr uint32_t kInfoTreeName = 4;

}  // namespace

void InitPing() {
  ClosePing();
  g_ping = platform::PingService::Start().release();
}

void ClosePing() {
  delete g_ping;
  g_ping = nullptr;
}

bool PingAvailable() { return g_ping != nullptr; }

uint32_t Ping(const std::string& host, uint32_t timeout_seconds) {
  if (g_ping == nullptr) return 0;  // every host counts as reachable

  uint32_t address = 0;
  uint32_t first = 0;
  const bool found = platform::ParseIpv4Address(host.c_str(), &address)
                         ? g_ping->HostByAddress(address, &first)
                         : g_ping->HostByName(host.c_str(), &first);
  if (!found) return kPingUnreachable;

  std::unique_ptr<platform::IcmpEcho> echo = g_ping->OpenEcho();
  // Without a handle no echo can be sent, so nothing can vouch for the host.
  if (echo == nullptr) return kPingUnreachable;
  const uint64_t timeout_ms =
      std::min<uint64_t>(static_cast<uint64_t>(timeout_seconds) * 1000, UINT32_MAX);
  uint32_t status = 0;  // cleared before the request
  const bool replied = echo->SendEcho(first, static_cast<uint32_t>(timeout_ms), &status);
  echo.reset();
  // A request that brought no reply record back (time-out, or a send that
  // failed) has not shown the host alive either.
  if (!replied || status != 0) return kPingUnreachable;
  return 0;
}

uint32_t GetTree(std::string& name, char* tree_out, size_t tree_capacity,
                 uint32_t timeout_seconds) {
  if (tree_out == nullptr || tree_capacity == 0) return kTreeBufferTooSmall;

  uint32_t address = 0;
  if (!platform::ParseIpv4Address(name.c_str(), &address)) {
    // Not an address: the text is the tree name. A name that does not fit
    // is cut to the buffer (capacity - 1 characters and the terminator) and
    // still reported as found: the caller's only use of the result is to
    // look the tree up in the configured list, where a cut name simply
    // matches nothing and the caller falls back to the typed text, which
    // it still holds whole. A cut never splits a double-byte character.
    CopyTreeName(name.c_str(), tree_out, tree_capacity);
    return 0;
  }

  uint32_t status = Ping(name, timeout_seconds);
  if (status != 0) return status;

  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

  uint32_t handle = 0;
  status = QZCCOpenConnByName(0, name.c_str(), kNameFormat, kOpenState, kAnyTransport, &handle);
  if (status != 0) return status;

  // The service fills exactly kTreeInfoLength bytes; a smaller caller buffer
  // receives a cut copy of it.
  char info[kTreeInfoLength] = {};
  status = QZCCGetConnInfo(handle, kInfoTreeName, kTreeInfoLength, info);
  if (status == 0) {
    info[kTreeInfoLength - 1] = '\0';
    RemoveTrailingUnderscores(info, sizeof(info));
    CopyTreeName(info, tree_out, tree_capacity);
  }
  QZCCCloseConn(handle);
  return status;
}

}  // namespace wendrel
