// The effective configuration as the extension's own readers return it,
// gathered once so that the text and JSON renderings show the same thing.
// Texts are as read: in the ANSI code page.

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_CONFIG_REPORT_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_CONFIG_REPORT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace doctor {

struct OptionEntry {
  const char* getter;  // the reader's getter name
  bool is_int;         // an int option; a boolean otherwise
  int32_t value;
};

struct ServerEntry {
  int32_t index;
  std::string name;
  bool use_ssl;
  int32_t port;
  int32_t connection_timeout;
  int32_t search_timeout;
  std::string proxy_username;
  bool proxy_password_set;  // the password itself is never shown
  std::string certificate;
};

struct TreeEntry {
  int32_t index;
  std::string name;
  // The index a lookup of this name finds: smaller than `index` when an
  // earlier entry holds the same name in other letter case, which makes this
  // entry unreachable. -1 when the lookup fails.
  int32_t lookup_index;
};

struct ContextsEntry {
  int32_t tree_index;
  bool subtree;
  std::vector<std::string> contexts;
};

struct ConfigReport {
  // Each section is absent (with the reason in *_error) when its key cannot
  // be opened.
  bool has_options = false;
  std::string options_error;
  std::vector<OptionEntry> options;

  bool has_servers = false;
  std::string servers_error;
  std::vector<ServerEntry> servers;

  bool has_trees = false;
  std::string trees_error;
  std::vector<TreeEntry> trees;

  // One per listed tree, in the same order.
  std::vector<ContextsEntry> contexts;
};

ConfigReport ReadConfigReport();

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_CONFIG_REPORT_H_
