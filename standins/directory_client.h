// What the client's stand-ins share to talk to the configured directory: the
// server list as the administrator configured it, owners for the LDAP port's
// objects, a bounded connect-and-bind, and the root DSE's tree name.
//
// The registry is read directly: the stand-ins sit below the extension and
// must not depend on its classes.

#ifndef WENDREL_STANDINS_DIRECTORY_CLIENT_H_
#define WENDREL_STANDINS_DIRECTORY_CLIENT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ldap.h"

namespace wendrel {
namespace standins {

struct ConfiguredServer {
  std::string host;
  int port = 389;
  bool tls = false;
  std::string certificate;
  std::string bind_dn;  // ANSI; empty binds anonymously
  std::string password;
};

// The server list in index order, up to the first gap, with each server's
// settings as the extension's own server reader takes them ("Clear Text 0",
// "Port 0", ...; defaults where a value or the settings key is missing).
std::vector<ConfiguredServer> ReadConfiguredServers();

struct HandleCloser {
  void operator()(platform::LdapHandle* ld) const { platform::LdapUnbind(ld); }
};
struct MessageFreer {
  void operator()(platform::LdapMessage* m) const { platform::LdapMsgFree(m); }
};
struct ValuesFreer {
  void operator()(char** values) const { platform::LdapValueFree(values); }
};
using LdapConnection = std::unique_ptr<platform::LdapHandle, HandleCloser>;
using LdapResultMessage = std::unique_ptr<platform::LdapMessage, MessageFreer>;
using LdapValues = std::unique_ptr<char*, ValuesFreer>;

// Bounds connecting with the library-wide network time-out while it lives,
// when the extension has set none; the extension's own stays in force
// otherwise, and the stand-in's is removed again afterwards so the extension
// never inherits it.
class ConnectBound {
 public:
  explicit ConnectBound(int32_t seconds);
  ~ConnectBound();
  ConnectBound(const ConnectBound&) = delete;
  ConnectBound& operator=(const ConnectBound&) = delete;

 private:
  bool set_ = false;
};

// Opens a connection to `server` (TLS with its trusted certificate when so
// configured) and binds with its credentials, waiting at most `wait` for the
// answer. Null unless the bind succeeded.
LdapConnection ConnectAndBind(const ConfiguredServer& server, const platform::LdapTimeval& wait);

enum class TreeNameRead {
  kRead,        // *tree holds the name (UTF-8)
  kUnanswered,  // the root DSE could not be read in time
  kNone,        // the server publishes no tree name
};

// The directoryTreeName of the root DSE, read within `wait`.
TreeNameRead ReadRootTreeName(platform::LdapHandle* ld, const platform::LdapTimeval& wait,
                              std::string* tree);

// A base-object read of `base` (UTF-8) asking for `attribute` only, within
// `wait`: the result code, and the result (if any) in *result.
int ReadBaseObject(platform::LdapHandle* ld, const std::string& base, const char* attribute,
                   const platform::LdapTimeval& wait, LdapResultMessage* result);

}  // namespace standins
}  // namespace wendrel

#endif  // WENDREL_STANDINS_DIRECTORY_CLIENT_H_
