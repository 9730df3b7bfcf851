#include "server_check.h"

#include <algorithm>
#include <memory>

#include "config/ldap_server.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "resources/message_catalogue.h"
#include "text.h"

namespace wendrel {
namespace doctor {
namespace {

using platform::CertificateVerdict;
using platform::LdapHandle;
using platform::LdapMessage;
using platform::LdapTimeval;

using Handle = platform::LdapHandleOwner;
using Message = platform::LdapMessageOwner;
using Values = platform::LdapValuesOwner;

constexpr char kTreeNameAttribute[] = "directoryTreeName";

// The extension's text for the handle's last result code (for a null
// handle: the last failed opening).
std::string ErrorText(LdapHandle* handle) {
  int code = platform::kLdapConnectError;
  platform::LdapGetOption(handle, platform::kLdapOptResultCode, &code);
  if (handle == nullptr && code == platform::kLdapSuccess) code = platform::kLdapConnectError;
  return AnsiToUtf8(LdapErrorText(code));
}

std::string Seconds(int seconds) { return std::to_string(seconds) + " s"; }

// Reads the tree name from the root entry, as the extension does, within
// the search time-out.
void ReadTreeName(LdapHandle* handle, const LdapTimeval& timeout, ServerCheck* check) {
  char attribute[sizeof(kTreeNameAttribute)];
  std::copy(kTreeNameAttribute, kTreeNameAttribute + sizeof(kTreeNameAttribute), attribute);
  char* attributes[] = {attribute, nullptr};
  LdapMessage* raw = nullptr;
  int rc = platform::LdapSearchExtS(handle, "", platform::kLdapScopeBase, "(objectClass=*)",
                                    attributes, 0, nullptr, nullptr, &timeout, 0, &raw);
  Message result(raw);
  if (rc != platform::kLdapSuccess) return;
  LdapMessage* entry = platform::LdapFirstEntry(handle, result.get());
  if (entry == nullptr) return;
  Values values(platform::LdapGetValues(handle, entry, kTreeNameAttribute));
  if (values == nullptr || values.get()[0] == nullptr) return;
  check->has_tree = true;
  check->tree = values.get()[0];
}

// A subtree search of the whole directory (empty base), as the user search
// makes when no contexts are configured; one entry is enough to know.
void SearchWholeDirectory(LdapHandle* handle, const LdapTimeval& timeout, ServerCheck* check) {
  char no_attributes[] = "1.1";
  char* attributes[] = {no_attributes, nullptr};
  LdapMessage* raw = nullptr;
  int rc = platform::LdapSearchExtS(handle, "", platform::kLdapScopeSubtree, "(objectClass=*)",
                                    attributes, 0, nullptr, nullptr, &timeout, 1, &raw);
  Message result(raw);
  check->search_reached = true;
  if (rc == platform::kLdapSuccess || rc == platform::kLdapSizelimitExceeded) {
    check->whole_directory_search = "ok";
  } else if (rc == platform::kLdapNoSuchObject) {
    check->whole_directory_search = "no such object";
  } else {
    check->whole_directory_search = AnsiToUtf8(LdapErrorText(rc));
  }
}

// Connection, bind with the proxy credentials, tree name and whole-directory
// search, as the extension would make them.
void Bind(const ServerSettings& server, ServerCheck* check) {
  if (server.tls) {
    platform::LdapSslClientInit(nullptr, nullptr);
    if (platform::LdapSslAddTrustedCert(server.certificate.c_str(), platform::kLdapCertFilePem) !=
        0) {
      check->bind = AnsiToUtf8(LoadMessage(kMsgCertificateLoadFailed));
      return;
    }
  }
  const LdapTimeval connect = {server.connection_timeout, 0};
  platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, &connect);
  const int version = 3;
  platform::LdapSetOption(nullptr, platform::kLdapOptProtocolVersion, &version);
  const char* host = server.name.c_str();
  Handle handle(server.tls ? platform::LdapSslInit(host, server.port, 1)
                           : platform::LdapInit(host, server.port));
  if (handle == nullptr) {
    check->bind = ErrorText(nullptr);
    return;
  }
  int msgid = platform::LdapSimpleBind(handle.get(), server.proxy_username.c_str(),
                                       server.proxy_password.c_str());
  if (msgid == -1) {
    check->bind = ErrorText(handle.get());
    return;
  }
  LdapMessage* raw = nullptr;
  int type = platform::LdapResult(handle.get(), msgid, 0, &connect, &raw);
  Message response(raw);
  if (type == 0) {
    check->bind = "no answer within " + Seconds(server.connection_timeout);
    return;
  }
  if (type != platform::kLdapResBind) {
    check->bind = ErrorText(handle.get());
    return;
  }
  check->bind_answered = true;
  int code = platform::LdapResult2Error(handle.get(), response.get(), 0);
  check->bind = code == platform::kLdapSuccess ? "ok" : AnsiToUtf8(LdapErrorText(code));

  const LdapTimeval search = {server.search_timeout, 0};
  ReadTreeName(handle.get(), search, check);
  SearchWholeDirectory(handle.get(), search, check);
}

}  // namespace

std::vector<ServerSettings> ReadServerSettings() {
  LDAPServer reader;
  std::vector<ServerSettings> servers;
  int index = 0;
  for (std::string name = reader.FirstServer(); !name.empty();
       name = reader.NextServer(), ++index) {
    ServerSettings s;
    s.index = index;
    s.name = name;
    s.port = reader.Port();
    s.tls = reader.UseSSL();
    s.certificate = reader.Certificate();
    s.proxy_username = reader.ProxyUsername();
    s.proxy_password = reader.ProxyPassword();
    s.connection_timeout = reader.ConnectionTimeout();
    s.search_timeout = reader.SearchTimeout();
    servers.push_back(s);
  }
  return servers;
}

ServerCheck CheckServer(const ServerSettings& server) {
  ServerCheck check;
  check.tls = server.tls;
  const int connect_ms = std::max(0, server.connection_timeout) * 1000;
  check.connection =
      platform::ProbeTcpConnection(server.name, server.port, connect_ms, &check.milliseconds);
  check.reachable = check.connection == platform::TcpConnectOutcome::kConnected;
  if (!check.reachable) {
    check.bind = "not attempted: " + WhyNotReachable(check, server.connection_timeout);
    return check;
  }
  if (server.tls) {
    check.certificate =
        platform::ProbeServerCertificate(server.name, server.port, server.certificate, connect_ms);
  }
  Bind(server, &check);
  if (server.tls && !check.bind_answered && check.certificate != CertificateVerdict::kTrusted) {
    check.bind = std::string("no TLS connection: certificate ") +
                 platform::CertificateVerdictName(check.certificate);
  }
  check.usable = check.bind_answered && check.has_tree &&
                 (!server.tls || check.certificate == CertificateVerdict::kTrusted);
  return check;
}

std::string WhyNotReachable(const ServerCheck& check, int connection_timeout) {
  switch (check.connection) {
    case platform::TcpConnectOutcome::kConnected:
      return "";
    case platform::TcpConnectOutcome::kRefused:
      return "connection refused";
    case platform::TcpConnectOutcome::kNoAnswer:
      return "no connection within " + Seconds(connection_timeout);
    case platform::TcpConnectOutcome::kUnknownName:
      return "the name gives no address";
    case platform::TcpConnectOutcome::kFailed:
      break;
  }
  return "the connection could not be made";
}

std::string SkipReason(const ServerCheck& check) {
  if (!check.reachable) return "unreachable";
  if (check.tls && check.certificate != CertificateVerdict::kTrusted) {
    return platform::CertificateVerdictName(check.certificate);
  }
  if (check.bind_answered && !check.has_tree) return "no tree name";
  return "bind refused";
}

}  // namespace doctor
}  // namespace wendrel
