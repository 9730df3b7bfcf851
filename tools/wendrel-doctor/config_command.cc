// wendrel-doctor config [--json]: the effective configuration as the
// extension's readers return it, as text or as one JSON object.

#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "config/registry_paths.h"
#include "config_report.h"
#include "json_writer.h"
#include "text.h"

namespace wendrel {
namespace doctor {

namespace {

void WriteJson(const ConfigReport& report, std::ostream& out) {
  JsonWriter json(&out);
  json.BeginObject();

  json.Key("options");
  if (report.has_options) {
    json.BeginObject();
    for (const OptionEntry& option : report.options) {
      json.Key(option.getter);
      if (option.is_int) {
        json.Int(option.value);
      } else {
        json.Bool(option.value != 0);
      }
    }
    json.EndObject();
  } else {
    json.Null();
    json.Key("error");
    json.String(AnsiToUtf8(report.options_error));
  }

  json.Key("servers");
  if (report.has_servers) {
    json.BeginArray();
    for (const ServerEntry& server : report.servers) {
      json.BeginObject();
      json.Key("index");
      json.Int(server.index);
      json.Key("name");
      json.String(AnsiToUtf8(server.name));
      json.Key("useSSL");
      json.Bool(server.use_ssl);
      json.Key("port");
      json.Int(server.port);
      json.Key("connectionTimeout");
      json.Int(server.connection_timeout);
      json.Key("searchTimeout");
      json.Int(server.search_timeout);
      json.Key("proxyUsername");
      json.String(AnsiToUtf8(server.proxy_username));
      json.Key("proxyPassword");
      json.String(server.proxy_password_set ? "set" : "");
      json.Key("certificate");
      json.String(AnsiToUtf8(server.certificate));
      json.EndObject();
    }
    json.EndArray();
  } else {
    json.Null();
    json.Key("serversError");
    json.String(AnsiToUtf8(report.servers_error));
  }

  json.Key("trees");
  if (report.has_trees) {
    json.BeginArray();
    for (const TreeEntry& tree : report.trees) {
      json.BeginObject();
      json.Key("index");
      json.Int(tree.index);
      json.Key("name");
      json.String(AnsiToUtf8(tree.name));
      json.Key("lookupIndex");
      json.Int(tree.lookup_index);
      json.EndObject();
    }
    json.EndArray();
  } else {
    json.Null();
    json.Key("treesError");
    json.String(AnsiToUtf8(report.trees_error));
  }

  json.Key("contexts");
  json.BeginArray();
  for (const ContextsEntry& entry : report.contexts) {
    json.BeginObject();
    json.Key("treeIndex");
    json.Int(entry.tree_index);
    json.Key("subtree");
    json.Bool(entry.subtree);
    json.Key("contexts");
    json.BeginArray();
    for (const std::string& context : entry.contexts) json.String(AnsiToUtf8(context));
    json.EndArray();
    json.EndObject();
  }
  json.EndArray();

  json.EndObject();
  out << '\n';
}

// An empty text shown so that it cannot be mistaken for a missing line.
std::string Shown(const std::string& ansi, const char* when_empty) {
  return ansi.empty() ? std::string(when_empty) : AnsiToUtf8(ansi);
}

void WriteText(const ConfigReport& report, std::ostream& out) {
  out << "Options (HKLM\\" << kOptionsKeyPath << ")\n";
  if (report.has_options) {
    for (const OptionEntry& option : report.options) {
      std::string name = option.getter;
      out << "  " << name << std::string(name.size() < 27 ? 27 - name.size() : 1, ' ');
      if (option.is_int) {
        out << option.value << '\n';
      } else {
        out << (option.value != 0 ? "true" : "false") << '\n';
      }
    }
  } else {
    out << "  error: " << AnsiToUtf8(report.options_error) << '\n';
  }

  out << "\nServers (HKLM\\" << kServersKeyPath << ")\n";
  if (!report.has_servers) {
    out << "  error: " << AnsiToUtf8(report.servers_error) << '\n';
  } else if (report.servers.empty()) {
    out << "  (none)\n";
  }
  for (const ServerEntry& server : report.servers) {
    out << "  " << server.index << "  " << AnsiToUtf8(server.name) << '\n'
        << "     " << (server.use_ssl ? "TLS" : "plain LDAP") << ", port " << server.port
        << ", connection timeout " << server.connection_timeout << " s, search timeout "
        << server.search_timeout << " s\n"
        << "     proxy user " << Shown(server.proxy_username, "(anonymous bind)")
        << ", password " << (server.proxy_password_set ? "set" : "not set")
        << ", certificate " << Shown(server.certificate, "(none)") << '\n';
  }

  out << "\nTrees (HKLM\\" << kTreesKeyPath << ")\n";
  if (!report.has_trees) {
    out << "  error: " << AnsiToUtf8(report.trees_error) << '\n';
  } else if (report.trees.empty()) {
    out << "  (none)\n";
  }
  for (const TreeEntry& tree : report.trees) {
    out << "  " << tree.index << "  " << Shown(tree.name, "(empty)");
    if (tree.lookup_index != tree.index) {
      out << "  (unreachable: a lookup of this name finds index " << tree.lookup_index << ")";
    }
    out << '\n';
  }

  out << "\nContexts (HKLM\\" << kContextsKeyPath << ")\n";
  for (const ContextsEntry& entry : report.contexts) {
    out << "  tree " << entry.tree_index << ": "
        << (entry.subtree ? "each context with its subtree" : "one level below each context")
        << '\n';
    if (entry.contexts.empty()) out << "     (no contexts: the whole tree)\n";
    for (const std::string& context : entry.contexts) {
      out << "     " << AnsiToUtf8(context) << '\n';
    }
  }
}

}  // namespace

int RunConfigCommand(const std::vector<std::string>& args) {
  bool json = false;
  if (!ParseJsonFlagOnly("config", args, &json)) return kExitBadArguments;
  ConfigReport report = ReadConfigReport();
  if (json) {
    WriteJson(report, std::cout);
  } else {
    WriteText(report, std::cout);
  }
  return kExitOk;
}

}  // namespace doctor
}  // namespace wendrel
