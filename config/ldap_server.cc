#include "config/ldap_server.h"

#include "config/registry_paths.h"
#include "config/registry_value.h"

namespace wendrel {

LDAPServer::LDAPServer() {
  const platform::RegKey& root = platform::RegKey::LocalMachine();
  if (servers_key_.Open(root, kServersKeyPath, platform::kKeyRead) != platform::kRegSuccess) {
    throw BadReg();
  }
  // Not an error: a server list without settings uses the defaults.
  if (settings_key_.Open(root, kServerSettingsKeyPath, platform::kKeyRead) !=
      platform::kRegSuccess) {
    settings_key_.Close();
  }
}

LDAPServer::~LDAPServer() = default;

std::string LDAPServer::FirstServer() {
  index_ = -1;
  return NextServer();
}

std::string LDAPServer::NextServer() {
  // Past the end the index keeps growing, so the walk never wraps around to
  // an earlier server.
  if (index_ < INT32_MAX) ++index_;
  std::string name;
  ReadRegistryText(servers_key_, kServersKeyPath, std::to_string(index_), &name);
  return name;
}

std::string LDAPServer::SettingName(const char* setting) const {
  return std::string(setting) + " " + std::to_string(index_);
}

int32_t LDAPServer::ReadSetting(const char* setting, uint32_t default_value) const {
  return static_cast<int32_t>(ReadRegistryNumber(settings_key_, kServerSettingsKeyPath,
                                                 SettingName(setting), default_value));
}

std::string LDAPServer::ReadSettingText(const char* setting) const {
  std::string text;
  ReadRegistryText(settings_key_, kServerSettingsKeyPath, SettingName(setting), &text);
  return text;
}

// "ConnectionTimeout" is one word, "Search Timeout" two: both as deployed.
int32_t LDAPServer::ConnectionTimeout() const { return ReadSetting("ConnectionTimeout", 5); }

int32_t LDAPServer::SearchTimeout() const { return ReadSetting("Search Timeout", 20); }

std::string LDAPServer::ProxyUsername() const { return ReadSettingText("Proxy Username"); }

std::string LDAPServer::ProxyPassword() const { return ReadSettingText("Proxy Password"); }

bool LDAPServer::UseSSL() const { return ReadSetting("Clear Text", 1) == 0; }

std::string LDAPServer::Certificate() const { return ReadSettingText("Certificate"); }

int32_t LDAPServer::Port() const {
  if (ReadSetting("Clear Text", 1) != 0) return ReadSetting("Port", 389);
  return ReadSetting("SSL Port", 636);
}

}  // namespace wendrel
