#include "standins/connection_services.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "config/registry_paths.h"
#include "platform/codepage.h"
#include "platform/icmp.h"
#include "platform/ldap.h"
#include "platform/registry.h"

namespace wendrel {
namespace {

constexpr uint32_t kNameFormat = 0x8002;
constexpr uint32_t kOpenState = 2;
constexpr uint32_t kInfoTreeName = 4;
constexpr size_t kTreeChars = 32;

struct Endpoint {
  int port = 389;
  bool tls = false;
  std::string certificate;
};

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

uint32_t ReadNumber(const platform::RegKey& key, const std::string& name, uint32_t fallback) {
  uint32_t value = fallback;
  uint32_t size = sizeof(value);
  if (key.QueryValue(name, nullptr, &value, &size) != platform::kRegSuccess) return fallback;
  return value;
}

std::string ReadText(const platform::RegKey& key, const std::string& name) {
  char buffer[261] = {};
  uint32_t size = sizeof(buffer) - 1;
  if (key.QueryValue(name, nullptr, buffer, &size) != platform::kRegSuccess) return "";
  return std::string(buffer);
}

// The settings of the first configured server whose name is `address`
// (compared as addresses, so "127.1" is "127.0.0.1"); defaults otherwise.
// The registry is read directly: the stand-in sits below the extension.
Endpoint FindEndpoint(uint32_t address) {
  Endpoint endpoint;
  platform::RegKey servers;
  if (servers.Open(platform::RegKey::LocalMachine(), kServersKeyPath, platform::kKeyRead) !=
      platform::kRegSuccess) {
    return endpoint;
  }
  for (uint32_t i = 0;; ++i) {
    const std::string name = ReadText(servers, std::to_string(i));
    if (name.empty()) return endpoint;
    uint32_t server_address = 0;
    if (!platform::ParseIpv4Address(name.c_str(), &server_address) ||
        server_address != address) {
      continue;
    }
    platform::RegKey settings;
    if (settings.Open(platform::RegKey::LocalMachine(), kServerSettingsKeyPath,
                      platform::kKeyRead) != platform::kRegSuccess) {
      return endpoint;  // a server without settings: the defaults
    }
    const std::string n = " " + std::to_string(i);
    endpoint.tls = ReadNumber(settings, "Clear Text" + n, 1) == 0;
    endpoint.port = static_cast<int>(
        endpoint.tls ? ReadNumber(settings, "SSL Port" + n, 636) : ReadNumber(settings, "Port" + n, 389));
    endpoint.certificate = ReadText(settings, "Certificate" + n);
    return endpoint;
  }
}

struct HandleCloser {
  void operator()(platform::LdapHandle* ld) const { platform::LdapUnbind(ld); }
};
struct MessageFreer {
  void operator()(platform::LdapMessage* m) const { platform::LdapMsgFree(m); }
};
struct ValuesFreer {
  void operator()(char** values) const { platform::LdapValueFree(values); }
};
using Handle = std::unique_ptr<platform::LdapHandle, HandleCloser>;
using Message = std::unique_ptr<platform::LdapMessage, MessageFreer>;
using Values = std::unique_ptr<char*, ValuesFreer>;

// Bounds the connect with the library-wide network time-out for as long as
// it lives, when the extension has set none; otherwise the extension's own
// stays in force. Removed again afterwards so the extension never inherits
// the stand-in's setting.
class ConnectBound {
 public:
  ConnectBound() {
    platform::LdapTimeval* current = nullptr;
    platform::LdapGetOption(nullptr, platform::kLdapOptNetworkTimeout, &current);
    if (current != nullptr) {
      platform::LdapMemFree(current);
      return;
    }
    const platform::LdapTimeval bound = {kConnWaitSeconds, 0};
    set_ = platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, &bound) ==
           platform::kLdapSuccess;
  }
  ~ConnectBound() {
    if (set_) platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, nullptr);
  }
  ConnectBound(const ConnectBound&) = delete;
  ConnectBound& operator=(const ConnectBound&) = delete;

 private:
  bool set_ = false;
};

// The root DSE's directoryTreeName (UTF-8) of the server at host:port.
uint32_t ReadTreeName(const std::string& host, const Endpoint& endpoint, std::string* tree) {
  ConnectBound bound;
  if (endpoint.tls && !endpoint.certificate.empty()) {
    platform::LdapSslAddTrustedCert(endpoint.certificate.c_str(), platform::kLdapCertFilePem);
  }
  Handle ld(endpoint.tls ? platform::LdapSslInit(host.c_str(), endpoint.port, 1)
                         : platform::LdapInit(host.c_str(), endpoint.port));
  if (!ld) return kConnServerUnreachable;
  const int version = 3;
  platform::LdapSetOption(ld.get(), platform::kLdapOptProtocolVersion, &version);

  const platform::LdapTimeval wait = {kConnWaitSeconds, 0};
  const int bind = platform::LdapSimpleBind(ld.get(), nullptr, nullptr);
  if (bind == -1) return kConnServerUnreachable;
  platform::LdapMessage* raw = nullptr;
  int type = platform::LdapResult(ld.get(), bind, 0, &wait, &raw);
  Message bind_result(raw);
  if (type != platform::kLdapResBind ||
      platform::LdapResult2Error(ld.get(), bind_result.get(), 0) != platform::kLdapSuccess) {
    return kConnServerUnreachable;
  }

  char attribute[] = "directoryTreeName";
  char* attributes[] = {attribute, nullptr};
  int search = 0;
  if (platform::LdapSearchExt(ld.get(), "", platform::kLdapScopeBase, "(objectClass=*)",
                              attributes, 0, nullptr, nullptr, &wait, 0,
                              &search) != platform::kLdapSuccess) {
    return kConnServerUnreachable;
  }
  raw = nullptr;
  type = platform::LdapResult(ld.get(), search, 1, &wait, &raw);
  Message result(raw);
  if (type != platform::kLdapResSearchResult && type != platform::kLdapResSearchEntry) {
    return kConnServerUnreachable;
  }
  platform::LdapMessage* entry = platform::LdapFirstEntry(ld.get(), result.get());
  if (entry == nullptr) return kConnNoTreeName;
  Values values(platform::LdapGetValues(ld.get(), entry, attribute));
  if (!values || values.get()[0] == nullptr || values.get()[0][0] == '\0') {
    return kConnNoTreeName;
  }
  *tree = values.get()[0];
  return 0;
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
  uint32_t status = wendrel::ReadTreeName(host, wendrel::FindEndpoint(address), &tree);
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
