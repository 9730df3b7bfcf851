// The LDAP server list (HKLM\Software\Tarvos\LDAP\Servers, values "0", "1",
// ...) and the settings of the server the walk currently stands on
// (HKLM\Software\Tarvos\LDAP\Servers\settings, values "<setting> <index>").
//
// Walk: for (name = FirstServer(); !name.empty(); name = NextServer()) and ask
// the getters about the server just returned. The walk ends at the first
// index without a readable value or with an empty one. Every getter reads the
// registry when it is called.

#ifndef WENDREL_CONFIG_LDAP_SERVER_H_
#define WENDREL_CONFIG_LDAP_SERVER_H_

#include <cstdint>
#include <string>

#include "platform/registry.h"

namespace wendrel {

class LDAPServer {
 public:
  // Thrown by the constructor when the server-list key cannot be opened.
  class BadReg {};

  // Opens the server list (throws BadReg when that fails) and the settings
  // key; without a settings key every setting reads as its default.
  LDAPServer();
  virtual ~LDAPServer();

  LDAPServer(const LDAPServer&) = delete;
  LDAPServer& operator=(const LDAPServer&) = delete;

  // Restarts the walk at index 0 and returns that server's name.
  std::string FirstServer();
  // Moves to the next index (whether or not the current one was readable)
  // and returns its server name, or "" when there is none.
  std::string NextServer();

  // Settings of the current server.
  int32_t ConnectionTimeout() const;  // seconds, default 5
  int32_t SearchTimeout() const;      // seconds, default 20
  std::string ProxyUsername() const;  // bind DN; "" binds anonymously
  std::string ProxyPassword() const;
  bool UseSSL() const;                // "Clear Text" is 0
  std::string Certificate() const;    // trusted certificate file for TLS
  // "Port" (default 389) for plain LDAP, "SSL Port" (default 636) for TLS;
  // only the port that applies is read.
  int32_t Port() const;

 private:
  // The setting's value name for the current index: "Port 3".
  std::string SettingName(const char* setting) const;
  int32_t ReadSetting(const char* setting, uint32_t default_value) const;
  std::string ReadSettingText(const char* setting) const;

  platform::RegKey servers_key_;
  platform::RegKey settings_key_;  // not open when the settings key is missing
  // Starts at 0, not at the -1 FirstServer uses: the user search asks UseSSL
  // before it starts the walk, to learn whether the connection it is about to
  // make needs TLS; that connection goes to server 0 first, so the settings
  // before FirstServer are server 0's.
  int32_t index_ = 0;
};

}  // namespace wendrel

#endif  // WENDREL_CONFIG_LDAP_SERVER_H_
