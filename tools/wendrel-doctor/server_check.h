// What the extension would meet at one configured server, step by step:
// TCP connection, TLS certificate, bind with the proxy credentials, tree
// name, and a search of the whole directory. Shared by `servers`, which
// shows it, and `resolve`, which names why the search skipped a server.
// Every step is bounded by the server's configured time-outs; nothing is
// written anywhere.

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_SERVER_CHECK_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_SERVER_CHECK_H_

#include <string>
#include <vector>

#include "platform/server_probe.h"

namespace wendrel {
namespace doctor {

// One server's list entry and settings, as the extension's reader gives them.
struct ServerSettings {
  int index = 0;
  std::string name;  // ANSI, as configured
  int port = 0;
  bool tls = false;
  std::string certificate;
  std::string proxy_username;
  std::string proxy_password;
  int connection_timeout = 0;  // seconds
  int search_timeout = 0;      // seconds
};

// Every configured server in list order. Throws LDAPServer::BadReg when the
// server list is missing.
std::vector<ServerSettings> ReadServerSettings();

struct ServerCheck {
  bool reachable = false;          // the TCP connection opened
  platform::TcpConnectOutcome connection = platform::TcpConnectOutcome::kNoAnswer;
  int milliseconds = 0;            // how long the TCP connection attempt took
  bool tls = false;
  platform::CertificateVerdict certificate = platform::CertificateVerdict::kUnavailable;
  bool bind_answered = false;      // a bind response came back
  std::string bind;                // "ok" or why not (UTF-8)
  bool has_tree = false;
  std::string tree;                // as the server sent it
  bool search_reached = false;
  std::string whole_directory_search;  // "ok", "no such object" or the error text
  bool usable = false;             // the user search would search this server
};

ServerCheck CheckServer(const ServerSettings& server);

// Why a server's port took no connection, in an administrator's words:
// "connection refused", "no answer within 5 s", ...
std::string WhyNotReachable(const ServerCheck& check, int connection_timeout);

// Why the user search passed over a server it could not bind to, from what
// a check of that server finds: "unreachable", a certificate verdict other
// than "trusted", "bind refused", or "no tree name" (the bind was answered,
// but the root entry names no tree).
std::string SkipReason(const ServerCheck& check);

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_SERVER_CHECK_H_
