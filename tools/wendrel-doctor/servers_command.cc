// wendrel-doctor servers [--json]: for every configured server, in list
// order, what the extension would meet there (see server_check.h). Exit
// status 0 when every server is usable, 1 otherwise (no server configured
// included: the user search would have nothing to search).

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "config/ldap_server.h"
#include "json_writer.h"
#include "resources/message_catalogue.h"
#include "server_check.h"
#include "text.h"

namespace wendrel {
namespace doctor {
namespace {

constexpr int kExitNotUsable = 1;

struct Row {
  ServerSettings server;
  ServerCheck check;
};

// The hint for a server that refuses a search of the whole directory.
std::string WholeDirectoryHint(const Row& row) {
  return "searches of the whole directory are refused here: configure search contexts for "
         "tree " +
         (row.check.has_tree ? row.check.tree : std::string("of this server")) +
         " and turn on \"Context Search Scope Enabled\"";
}

void WriteJson(const std::vector<Row>& rows, std::ostream& out) {
  JsonWriter json(&out);
  json.BeginObject();
  json.Key("servers");
  json.BeginArray();
  for (const Row& row : rows) {
    const ServerCheck& c = row.check;
    json.BeginObject();
    json.Key("index");
    json.Int(row.server.index);
    json.Key("name");
    json.String(AnsiToUtf8(row.server.name));
    json.Key("port");
    json.Int(row.server.port);
    json.Key("tls");
    json.Bool(row.server.tls);
    json.Key("reachable");
    json.Bool(c.reachable);
    json.Key("milliseconds");
    json.Int(c.milliseconds);
    json.Key("tree");
    if (c.has_tree) {
      json.String(c.tree);
    } else {
      json.Null();
    }
    json.Key("bind");
    json.String(c.bind);
    json.Key("certificate");
    if (row.server.tls) {
      json.String(platform::CertificateVerdictName(c.certificate));
    } else {
      json.Null();
    }
    json.Key("wholeDirectorySearch");
    if (c.search_reached) {
      json.String(c.whole_directory_search);
    } else {
      json.Null();
    }
    json.Key("usable");
    json.Bool(c.usable);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  out << '\n';
}

void WriteText(const std::vector<Row>& rows, std::ostream& out) {
  if (rows.empty()) out << "No server is configured.\n";
  for (const Row& row : rows) {
    const ServerCheck& c = row.check;
    out << "Server " << row.server.index << ": " << AnsiToUtf8(row.server.name) << " port "
        << row.server.port << (row.server.tls ? " (TLS)" : " (plain LDAP)") << '\n';
    out << "  reachable:    ";
    if (c.reachable) {
      out << "yes (" << c.milliseconds << " ms)\n";
    } else {
      out << "no (" << WhyNotReachable(c, row.server.connection_timeout) << ")\n";
    }
    if (row.server.tls) {
      out << "  certificate:  " << platform::CertificateVerdictName(c.certificate) << '\n';
    }
    out << "  bind:         " << c.bind << '\n';
    out << "  tree:         " << (c.has_tree ? c.tree : std::string("-")) << '\n';
    out << "  whole search: " << (c.search_reached ? c.whole_directory_search : std::string("-"))
        << '\n';
    if (c.search_reached && c.whole_directory_search == "no such object") {
      out << "  hint:         " << WholeDirectoryHint(row) << '\n';
    }
    out << "  usable:       " << (c.usable ? "yes" : "no") << '\n';
  }
}

}  // namespace

int RunServersCommand(const std::vector<std::string>& args) {
  bool json = false;
  if (!ParseJsonFlagOnly("servers", args, &json)) return kExitBadArguments;
  std::vector<Row> rows;
  try {
    for (const ServerSettings& server : ReadServerSettings()) {
      rows.push_back({server, CheckServer(server)});
    }
  } catch (const LDAPServer::BadReg&) {
    std::cerr << "wendrel-doctor servers: " << AnsiToUtf8(LoadMessage(kMsgBadServers)) << '\n';
    if (json) WriteJson(rows, std::cout);
    return kExitNotUsable;
  }
  if (json) {
    WriteJson(rows, std::cout);
  } else {
    WriteText(rows, std::cout);
  }
  bool all_usable = !rows.empty();
  for (const Row& row : rows) all_usable = all_usable && row.check.usable;
  return all_usable ? kExitOk : kExitNotUsable;
}

}  // namespace doctor
}  // namespace wendrel
