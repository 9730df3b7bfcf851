#include "search/ldap_search_user.h"

#include <cstdint>
#include <string>

#include "config/ldap_config_options.h"
#include "config/ldap_pruning.h"
#include "config/ldap_server.h"
#include "config/ldap_tree.h"
#include "directory/ldap_conn.h"
#include "directory/reachability.h"
#include "platform/ldap.h"
#include "platform/ui.h"
#include "resources/message_catalogue.h"
#include "results/user_data.h"
#include "search/server_events.h"
#include "search/server_failover.h"
#include "search/user_filter.h"

namespace wendrel {
namespace {

// What the connection service fills: a tree name of 32 characters and its
// terminator.
constexpr size_t kTreeBufferSize = 33;

// A tree name that cannot be a dotted IPv4 address ("255.255.255.255" is the
// longest) and is too long for the tree buffer. GetTree would only hand such
// a name back to us, cut to the buffer; so it is never given one, and the
// name is used and compared whole instead of by a cut copy that could match
// the wrong tree.
bool TooLongForTreeBuffer(const std::string& tree) { return tree.size() >= kTreeBufferSize; }

// GetTree on a copy of `name` (it upper-cases an address in place), into the
// 33-byte buffer. Returns its status; *tree_out is set on success.
uint32_t DiscoverTree(const std::string& name, int32_t timeout_seconds, std::string* tree_out) {
  std::string copy = name;
  char buffer[kTreeBufferSize] = {};
  const uint32_t status =
      GetTree(copy, buffer, sizeof(buffer), static_cast<uint32_t>(timeout_seconds));
  if (status == 0) *tree_out = buffer;
  return status;
}

}  // namespace

LDAPSearchUser::LDAPSearchUser() = default;

LDAPSearchUser::~LDAPSearchUser() {
  // Released in the order the search's parts depend on one another: tree,
  // server list, context scopes, connection, options.
  tree_.reset();
  server_.reset();
  pruning_.reset();
  conn_.reset();
  options_.reset();
}

void LDAPSearchUser::SearchForAUser(UserData& request) {
  try {
    options_.reset(new LDAPConfigOptions());
    ApplyWildcardPolicy(*options_, request);
    server_.reset(new LDAPServer());
    // The server list has not been walked yet, so its settings are server
    // 0's: the first connection goes there, and it needs the TLS client when
    // that server uses TLS. A later TLS server finds the client started by
    // the start-up worker, which starts it when any server uses TLS.
    conn_.reset(new LDAPConn(server_->UseSSL()));
    // No handle yet: this sets the library default for every connection.
    conn_->SetOption(platform::kLdapOptProtocolVersion, 3);

    const std::string filter = BuildUserFilter(*options_, request.GetLoginName());
    std::string searched_servers;
    // Every server of the list, for the event that none could be used.
    std::string configured_servers;
    bool asked = false;
    // Outlives every connection made with it, whatever the library keeps.
    platform::LdapTimeval connect_timeout = {0, 0};

    // Which servers the administrator's failover options take out of the
    // walk (none when both are off). The walk below is the same either way.
    ServerFailover failover(*options_, *server_, nullptr);

    // The connection object is reused for every server; opening a server's
    // connection replaces (and lets the object release) the previous
    // server's handle, so no explicit close is needed between servers.
    int index = 0;
    for (std::string server = server_->FirstServer(); !server.empty();
         server = server_->NextServer(), ++index) {
      // Failed its probe, or remembered as unreachable: skipped like a
      // server that cannot be bound to.
      const bool skipped = failover.Skips(static_cast<size_t>(index));
      std::string server_id;
      bool bound = false;
      if (skipped) {
        server_id = ServerEventName(server, failover.SkippedPort(static_cast<size_t>(index)));
        ReportServerNotTried(server_id, failover.WhySkipped(static_cast<size_t>(index)));
      } else {
        // Each setting read once, as the bind needs it; the events use the
        // same values.
        const int32_t timeout = server_->ConnectionTimeout();
        connect_timeout = {timeout, 0};
        conn_->SetOption(platform::kLdapOptNetworkTimeout, &connect_timeout);
        const BoundServer settings = {server, server_->Port(), timeout, server_->Certificate(),
                                      server_->ProxyUsername()};
        server_id = ServerEventName(server, settings.port);
        bound = conn_->BindToServer(server, settings.port, server_->UseSSL(), settings.certificate,
                                    settings.proxy_dn, server_->ProxyPassword());
        // A refused certificate is no sign of an unreachable server.
        failover.NoteBind(static_cast<size_t>(index),
                          conn_->LastBindAnswered() || conn_->LastBindCertificateRefused(),
                          conn_->LastBindUnreachable());
        ReportBindOutcome(server_id, settings, *conn_, bound);
      }
      configured_servers += (configured_servers.empty() ? "" : ", ") + server_id;
      if (!bound) {
        // Unreachable or no tree name: skipped silently.
        if (observer_ != nullptr) {
          const bool answered = !skipped && conn_->LastBindAnswered();
          observer_->ServerSkipped(index, server,
                                   answered ? SkipObserver::Why::kNoTreeName
                                            : SkipObserver::Why::kNotBound);
        }
        continue;
      }
      if (!ChooseTree(server, request)) {
        ReportOtherTree(server_id, conn_->GetSavedTreeName());
        if (observer_ != nullptr) {
          observer_->ServerSkipped(index, server, SkipObserver::Why::kOtherTree);
        }
        continue;
      }

      std::string base;
      int scope = platform::kLdapScopeSubtree;
      SetUpScope(request, &base, &scope);

      const platform::LdapTimeval search_timeout = {server_->SearchTimeout(), 0};
      for (;;) {
        conn_->Search(base, filter, scope, kRequestedAttributes, &search_timeout);
        request.SetServerName(server);
        conn_->GetResults(request);
        if (options_->SearchAllScopes() == 0 && request.GetUserCount() > 0) break;
        base = pruning_ ? pruning_->NextContext() : std::string();
        if (base.empty()) break;
      }
      pruning_.reset();
      searched_servers += "\n" + server;
      if (request.GetUserCount() > 0) return;

      // Nothing on this server: give up, ask once, or go on.
      const int32_t on_failure = options_->UserSearchFailure();
      if (!options_->TreelessLoginEnabled() || on_failure == 0) {
        throw ComposeMessage(kMsgUserNotFound) + searched_servers;
      }
      if (!asked && on_failure == 1) {
        const int answer = platform::ShowMessageBox(ComposeMessage(kMsgContinueSearching),
                                                    platform::kMbYesNo | platform::kMbIconHand);
        if (answer == platform::kIdNo) throw SearchCancelled();
        asked = true;
      }
    }
    if (searched_servers.empty()) {
      ReportNoUsableServer(configured_servers);
      throw ComposeMessage(kMsgNoServer);
    }
    throw ComposeMessage(kMsgUserNotFound) + searched_servers;
  } catch (const LDAPConfigOptions::BadReg&) {
    throw ComposeMessage(kMsgBadOptions);
  } catch (const LDAPServer::BadReg&) {
    throw ComposeMessage(kMsgBadServers);
  } catch (const LDAPTree::BadReg&) {
    throw ComposeMessage(kMsgBadTrees);
  } catch (int id) {
    throw ComposeMessage(static_cast<uint32_t>(id));
  } catch (MessageId id) {
    throw ComposeMessage(id);
  }
  // Texts and SearchCancelled pass through untouched.
}

bool LDAPSearchUser::ChooseTree(const std::string& server, UserData& request) {
  conn_->SetSavedTreeName(conn_->GetTreeName());
  const std::string server_tree = conn_->GetSavedTreeName();
  const int32_t timeout = server_->ConnectionTimeout();

  if (options_->TreelessLoginEnabled()) {
    // The server's own tree becomes the request's; a tree that cannot be
    // discovered is stood in for by the server's name. Searched either way.
    std::string tree = server_tree;
    if (!TooLongForTreeBuffer(server_tree) &&
        DiscoverTree(server_tree, timeout, &tree) != 0) {
      tree = server;
    }
    request.SetTreeName(tree);
    return true;
  }

  const std::string wanted = request.GetTreeName();
  if (EqualsIgnoringCase(wanted, server_tree)) return true;
  // A wanted tree typed as a server's dotted address stands for that
  // server's tree. A name too long for the buffer is no address, and it has
  // just failed the comparison in full.
  if (TooLongForTreeBuffer(wanted)) return false;
  std::string discovered;
  if (DiscoverTree(wanted, timeout, &discovered) != 0) return false;
  return EqualsIgnoringCase(discovered, conn_->GetSavedTreeName());
}

void LDAPSearchUser::SetUpScope(const UserData& request, std::string* base, int* scope) {
  *base = std::string();
  *scope = platform::kLdapScopeSubtree;
  if (!options_->ContextSearchScopeEnabled()) return;
  try {
    tree_.reset(new LDAPTree(request.GetTreeName()));
    pruning_.reset(new LDAPPruning(tree_->GetIndex()));
    *base = pruning_->FirstContext();
    if (!pruning_->SearchSubtree()) *scope = platform::kLdapScopeOneLevel;
    tree_.reset();
  } catch (const LDAPTree::BadReg&) {
    // A tree that is not configured has no contexts: search it whole.
    tree_.reset();
    pruning_.reset();
    *base = std::string();
    *scope = platform::kLdapScopeSubtree;
  }
}

}  // namespace wendrel
