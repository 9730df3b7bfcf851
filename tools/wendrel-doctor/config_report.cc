#include "config_report.h"

#include "config/ldap_config_options.h"
#include "config/ldap_pruning.h"
#include "config/ldap_server.h"
#include "config/ldap_tree.h"
#include "config/registry_paths.h"
#include "config/tree_list.h"

namespace wendrel {
namespace doctor {

namespace {

std::string CannotOpen(const char* path) {
  return std::string("cannot open HKEY_LOCAL_MACHINE\\") + path;
}

void ReadOptions(ConfigReport* report) {
  try {
    LDAPConfigOptions o;
    report->options = {
        {"ContextlessLoginEnabled", false, o.ContextlessLoginEnabled()},
        {"TreelessLoginEnabled", false, o.TreelessLoginEnabled()},
        {"ContextSearchScopeEnabled", false, o.ContextSearchScopeEnabled()},
        {"AllowWildcards", false, o.AllowWildcards()},
        {"UserSearchFailure", true, o.UserSearchFailure()},
        {"SearchAllScopes", true, o.SearchAllScopes()},
        {"SearchAlias", false, o.SearchAlias()},
        {"SearchEmail", false, o.SearchEmail()},
        {"SearchFullName", false, o.SearchFullName()},
        {"SearchGivenName", false, o.SearchGivenName()},
        {"SearchSurname", false, o.SearchSurname()},
        {"SearchTelephoneNumber", false, o.SearchTelephoneNumber()},
        {"SearchUniqueID", false, o.SearchUniqueID()},
        {"SearchUsername", false, o.SearchUsername()},
        {"DisplayContext", false, o.DisplayContext()},
        {"DisplayEmail", false, o.DisplayEmail()},
        {"DisplayFullName", false, o.DisplayFullName()},
        {"DisplayGivenName", false, o.DisplayGivenName()},
        {"DisplaySurname", false, o.DisplaySurname()},
        {"DisplayTelephoneNumber", false, o.DisplayTelephoneNumber()},
        {"DisplayUniqueID", false, o.DisplayUniqueID()},
        {"UseCachedResults", false, o.UseCachedResults()},
        {"ProbeServersInParallel", false, o.ProbeServersInParallel()},
        {"UnreachableServerRetrySeconds", true, o.UnreachableServerRetrySeconds()},
        {"EscapeSearchFilter", false, o.EscapeSearchFilter()},
        {"LogSuccessfulLogins", false, o.LogSuccessfulLogins()},
    };
    report->has_options = true;
  } catch (const LDAPConfigOptions::BadReg&) {
    report->options_error = CannotOpen(kOptionsKeyPath);
  }
}

void ReadServers(ConfigReport* report) {
  try {
    LDAPServer server;
    int32_t index = 0;
    for (std::string name = server.FirstServer(); !name.empty();
         name = server.NextServer(), ++index) {
      report->servers.push_back({index, name, server.UseSSL(), server.Port(),
                                 server.ConnectionTimeout(), server.SearchTimeout(),
                                 server.ProxyUsername(), !server.ProxyPassword().empty(),
                                 server.Certificate()});
    }
    report->has_servers = true;
  } catch (const LDAPServer::BadReg&) {
    report->servers_error = CannotOpen(kServersKeyPath);
  }
}

void ReadTreesAndContexts(ConfigReport* report) {
  std::vector<std::string> names;
  try {
    names = ListConfiguredTrees();
    report->has_trees = true;
  } catch (const LDAPTree::BadReg&) {
    report->trees_error = CannotOpen(kTreesKeyPath);
    return;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    int32_t index = static_cast<int32_t>(i);
    int32_t lookup_index = -1;
    try {
      lookup_index = LDAPTree(names[i]).GetIndex();
    } catch (const LDAPTree::BadReg&) {
      // Changed under our feet; shown as not found.
    }
    report->trees.push_back({index, names[i], lookup_index});

    LDAPPruning pruning(index);
    ContextsEntry entry{index, pruning.SearchSubtree(), {}};
    for (std::string context = pruning.FirstContext(); !context.empty();
         context = pruning.NextContext()) {
      entry.contexts.push_back(context);
    }
    report->contexts.push_back(std::move(entry));
  }
}

}  // namespace

ConfigReport ReadConfigReport() {
  ConfigReport report;
  ReadOptions(&report);
  ReadServers(&report);
  ReadTreesAndContexts(&report);
  return report;
}

}  // namespace doctor
}  // namespace wendrel
