// The administrator's events of the user search's server walk: why a
// server was passed over, and that no server could be used at all. They
// only report; the walk decides exactly as it does without them.

#ifndef WENDREL_SEARCH_SERVER_EVENTS_H_
#define WENDREL_SEARCH_SERVER_EVENTS_H_

#include <cstdint>
#include <string>

namespace wendrel {

class LDAPConn;

// The settings the walk read for its bind to one server (the events read
// nothing more from the registry).
struct BoundServer {
  std::string name;
  int port;
  int32_t connection_timeout;
  std::string certificate;
  std::string proxy_dn;
};

// How a server is named in an event: as configured, with its port.
std::string ServerEventName(const std::string& server, int port);

// The walk skipped `server` without trying it (the failover options); `why`
// in words.
void ReportServerNotTried(const std::string& server_id, const std::string& why);

// What the walk's bind to `server` told, once it has run: a refused
// certificate, no connection, a refused proxy bind, or a bind without a
// readable tree name (`bound` false). Nothing when the bind went well.
void ReportBindOutcome(const std::string& server_id, const BoundServer& server,
                       const LDAPConn& conn, bool bound);

// The server was bound to, but serves another tree (as it names it).
void ReportOtherTree(const std::string& server_id, const std::string& server_tree);

// No server could be used; `configured` lists them all.
void ReportNoUsableServer(const std::string& configured);

}  // namespace wendrel

#endif  // WENDREL_SEARCH_SERVER_EVENTS_H_
