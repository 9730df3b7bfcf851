#include "standins/connection_services.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/codepage.h"
#include "platform/icmp.h"
#include "platform/ldap.h"
#include "standins/directory_client.h"

namespace wendrel {
namespace {

constexpr uint32_t kNameFormat = 0x8002;
constexpr uint32_t kOpenState = 2;
constexpr uint32_t kInfoTreeName = 4;
constexpr size_t kTreeChars = 32;

// The open connections: handle → the tree name learnt at open time.
class ConnectionTable {
 public:
  uint32_t Add(const std::string& tree) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (++last_ == 0) ++last_;  // 0 is never a handle
    trees_[last_] = tree;
    return last_;
  }
  bool Find(uint32_t handle, std::string* tree) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = trees_.find(handle);
    if (it == trees_.end()) return false;
    *tree = it->second;
    return true;
  }
  bool Remove(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return trees_.erase(handle) != 0;
  }

 private:
  std::mutex mutex_;
  uint32_t last_ = 0;
  std::map<uint32_t, std::string> trees_;
};

ConnectionTable& Table() {
  // Never destroyed: a connection may be closed during process exit.
  static ConnectionTable* table = new ConnectionTable;
  return *table;
}

// The server at `address`: the first configured server whose name is that
// address (compared as addresses, so "127.1" is "127.0.0.1"), with its port
// and TLS setting; plain LDAP on 389 otherwise. The service binds
// anonymously: a tree name is public.
standins::ConfiguredServer ServerAt(uint32_t address, const std::string& host) {
  standins::ConfiguredServer server;
  for (const standins::ConfiguredServer& configured : standins::ReadConfiguredServers()) {
    uint32_t configured_address = 0;
    if (platform::ParseIpv4Address(configured.host.c_str(), &configured_address) &&
        configured_address == address) {
      server = configured;
      server.bind_dn.clear();
      server.password.clear();
      break;
    }
  }
  server.host = host;
  return server;
}

// The root DSE's directoryTreeName (UTF-8) of `server`.
uint32_t ReadTreeName(const standins::ConfiguredServer& server, std::string* tree) {
  standins::ConnectBound bound(kConnWaitSeconds);
  const platform::LdapTimeval wait = {kConnWaitSeconds, 0};
  standins::LdapConnection ld = standins::ConnectAndBind(server, wait);
  if (!ld) return kConnServerUnreachable;
  switch (standins::ReadRootTreeName(ld.get(), wait, tree)) {
    case standins::TreeNameRead::kRead:
      return 0;
    case standins::TreeNameRead::kNone:
      return kConnNoTreeName;
    case standins::TreeNameRead::kUnanswered:
      break;
  }
  return kConnServerUnreachable;
}

}  // namespace
}  // namespace wendrel

using wendrel::Table;

extern "C" uint32_t QZCCOpenConnByName(uint32_t start_conn, const char* name,
                                       uint32_t name_format, uint32_t open_state,
                                       uint32_t transport_type, uint32_t* conn_handle) {
  if (name == nullptr || conn_handle == nullptr || start_conn != 0 ||
      name_format != wendrel::kNameFormat || open_state != wendrel::kOpenState ||
      transport_type != 0) {
    return wendrel::kConnBadParameter;
  }
  uint32_t address = 0;
  if (!wendrel::platform::ParseIpv4Address(name, &address)) return wendrel::kConnUnknownName;
  char host[16];
  wendrel::platform::FormatIpv4Address(address, host);
  std::string tree;
  uint32_t status = wendrel::ReadTreeName(wendrel::ServerAt(address, host), &tree);
  if (status != 0) return status;
  *conn_handle = Table().Add(tree);
  return 0;
}

extern "C" uint32_t QZCCGetConnInfo(uint32_t conn_handle, uint32_t info_type,
                                    uint32_t buffer_length, void* buffer) {
  if (buffer == nullptr || info_type != wendrel::kInfoTreeName ||
      buffer_length < wendrel::kTreeChars + 1) {
    return wendrel::kConnBadParameter;
  }
  std::string tree;
  if (!Table().Find(conn_handle, &tree)) return wendrel::kConnBadHandle;
  // Directory text is UTF-8; the service speaks the ANSI code page.
  std::string ansi = wendrel::platform::Utf16ToAnsi(wendrel::platform::Utf8ToUtf16(tree));
  char* out = static_cast<char*>(buffer);
  size_t length = 0;
  while (length < ansi.size()) {
    size_t step = wendrel::platform::AnsiCharLength(ansi.c_str() + length);
    if (step == 0 || length + step > wendrel::kTreeChars) break;
    length += step;
  }
  std::memcpy(out, ansi.data(), length);
  std::memset(out + length, '_', wendrel::kTreeChars - length);
  out[wendrel::kTreeChars] = '\0';
  return 0;
}

extern "C" uint32_t QZCCCloseConn(uint32_t conn_handle) {
  return Table().Remove(conn_handle) ? 0 : wendrel::kConnBadHandle;
}
