#include "standins/directory_client.h"

#include "config/registry_paths.h"
#include "platform/codepage.h"
#include "platform/registry.h"

namespace wendrel {
namespace standins {
namespace {

uint32_t ReadNumber(const platform::RegKey& key, const std::string& name, uint32_t fallback) {
  uint32_t value = fallback;
  uint32_t size = sizeof(value);
  if (key.QueryValue(name, nullptr, &value, &size) != platform::kRegSuccess) return fallback;
  return value;
}

// A string value of at most 260 characters and its terminator, as the
// extension reads them; anything else is empty.
std::string ReadText(const platform::RegKey& key, const std::string& name) {
  char buffer[262] = {};
  uint32_t size = 261;
  if (key.QueryValue(name, nullptr, buffer, &size) != platform::kRegSuccess) return "";
  return std::string(buffer);
}

std::string AnsiToUtf8(const std::string& ansi) {
  return platform::Utf16ToUtf8(platform::AnsiToUtf16(ansi));
}

}  // namespace

std::vector<ConfiguredServer> ReadConfiguredServers() {
  std::vector<ConfiguredServer> servers;
  platform::RegKey list;
  if (list.Open(platform::RegKey::LocalMachine(), kServersKeyPath, platform::kKeyRead) !=
      platform::kRegSuccess) {
    return servers;
  }
  platform::RegKey settings;  // missing: every setting has its default
  settings.Open(platform::RegKey::LocalMachine(), kServerSettingsKeyPath, platform::kKeyRead);
  for (uint32_t i = 0;; ++i) {
    ConfiguredServer server;
    server.host = ReadText(list, std::to_string(i));
    if (server.host.empty()) break;
    const std::string n = " " + std::to_string(i);
    server.tls = ReadNumber(settings, "Clear Text" + n, 1) == 0;
    server.port = static_cast<int>(server.tls ? ReadNumber(settings, "SSL Port" + n, 636)
                                              : ReadNumber(settings, "Port" + n, 389));
    server.certificate = ReadText(settings, "Certificate" + n);
    server.bind_dn = ReadText(settings, "Proxy Username" + n);
    server.password = ReadText(settings, "Proxy Password" + n);
    servers.push_back(server);
  }
  return servers;
}

ConnectBound::ConnectBound(int32_t seconds) {
  platform::LdapTimeval* current = nullptr;
  platform::LdapGetOption(nullptr, platform::kLdapOptNetworkTimeout, &current);
  if (current != nullptr) {
    platform::LdapMemFree(current);
    return;
  }
  const platform::LdapTimeval bound = {seconds, 0};
  set_ = platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, &bound) ==
         platform::kLdapSuccess;
}

ConnectBound::~ConnectBound() {
  if (set_) platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, nullptr);
}

LdapConnection ConnectAndBind(const ConfiguredServer& server, const platform::LdapTimeval& wait) {
  if (server.tls && !server.certificate.empty()) {
    platform::LdapSslAddTrustedCert(server.certificate.c_str(), platform::kLdapCertFilePem);
  }
  LdapConnection ld(server.tls ? platform::LdapSslInit(server.host.c_str(), server.port, 1)
                               : platform::LdapInit(server.host.c_str(), server.port));
  if (!ld) return nullptr;
  const int version = 3;
  platform::LdapSetOption(ld.get(), platform::kLdapOptProtocolVersion, &version);
  const int no_referrals = 0;
  platform::LdapSetOption(ld.get(), platform::kLdapOptReferrals, &no_referrals);

  const std::string dn = AnsiToUtf8(server.bind_dn);
  const std::string password = AnsiToUtf8(server.password);
  const int bind = platform::LdapSimpleBind(ld.get(), dn.c_str(), password.c_str());
  if (bind == -1) return nullptr;
  platform::LdapMessage* raw = nullptr;
  const int type = platform::LdapResult(ld.get(), bind, 0, &wait, &raw);
  LdapResultMessage result(raw);
  if (type != platform::kLdapResBind ||
      platform::LdapResult2Error(ld.get(), result.get(), 0) != platform::kLdapSuccess) {
    return nullptr;
  }
  return ld;
}

int ReadBaseObject(platform::LdapHandle* ld, const std::string& base, const char* attribute,
                   const platform::LdapTimeval& wait, LdapResultMessage* result) {
  std::string requested(attribute);
  char* attributes[] = {&requested[0], nullptr};
  platform::LdapMessage* raw = nullptr;
  const int code =
      platform::LdapSearchExtS(ld, base.c_str(), platform::kLdapScopeBase, "(objectClass=*)",
                               attributes, 0, nullptr, nullptr, &wait, 0, &raw);
  result->reset(raw);
  return code;
}

TreeNameRead ReadRootTreeName(platform::LdapHandle* ld, const platform::LdapTimeval& wait,
                              std::string* tree) {
  LdapResultMessage result;
  if (ReadBaseObject(ld, "", "directoryTreeName", wait, &result) != platform::kLdapSuccess) {
    return TreeNameRead::kUnanswered;
  }
  platform::LdapMessage* entry = platform::LdapFirstEntry(ld, result.get());
  if (entry == nullptr) return TreeNameRead::kNone;
  LdapValues values(platform::LdapGetValues(ld, entry, "directoryTreeName"));
  if (!values || values.get()[0] == nullptr || values.get()[0][0] == '\0') {
    return TreeNameRead::kNone;
  }
  *tree = values.get()[0];
  return TreeNameRead::kRead;
}

}  // namespace standins
}  // namespace wendrel
