#include "audit.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/ldap_pruning.h"
#include "config/ldap_server.h"
#include "config/registry_paths.h"
#include "config/registry_value.h"
#include "platform/registry.h"

namespace wendrel {
namespace doctor {
namespace {

using platform::RegKey;

struct Value {
  std::string name;
  uint32_t type;
  std::vector<uint8_t> data;
};

std::string FullKey(const std::string& path) { return "HKLM\\" + path; }

std::string Quoted(const std::string& name) { return "\"" + name + "\""; }

// Every value of the key, in the registry's order; empty when it is missing.
std::vector<Value> ValuesOf(const std::string& path) {
  std::vector<Value> values;
  RegKey key;
  if (key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) != platform::kRegSuccess) {
    return values;
  }
  for (uint32_t i = 0;; ++i) {
    Value value;
    if (key.EnumValue(i, &value.name, &value.type, &value.data) != platform::kRegSuccess) break;
    values.push_back(std::move(value));
  }
  return values;
}

// A list index as the readers form it: decimal without leading zeros.
bool ParseIndex(const std::string& text, int32_t* index) {
  if (text.empty() || text.size() > 9 || (text.size() > 1 && text[0] == '0')) return false;
  int32_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  *index = n;
  return true;
}

// "Port 3" → setting "Port", index 3.
bool SplitSetting(const std::string& name, std::string* setting, int32_t* index) {
  const size_t blank = name.rfind(' ');
  if (blank == std::string::npos) return false;
  *setting = name.substr(0, blank);
  return ParseIndex(name.substr(blank + 1), index);
}

const char* TypeName(uint32_t type) { return RegistryTypeName(type); }

// The options the readers read, each a REG_DWORD in the options key. The
// last three are the administrator options added beside the original ones.
const char* const kOptionNames[] = {
    "Contextless Login Enabled", "Treeless Login Enabled", "Context Search Scope Enabled",
    "Allow Wildcards", "User Search Failure", "Search All Scopes", "Search Alias",
    "Search Email", "Search Full Name", "Search Given Name", "Search Surname",
    "Search Telephone Number", "Search Unique ID", "Search Username", "Display Context",
    "Display Email", "Display Full Name", "Display Given Name", "Display Surname",
    "Display Telephone Number", "Display Unique ID", "UseCachedResults",
    "Probe Servers In Parallel", "Unreachable Server Retry Seconds", "Escape Search Filter",
    "Log Successful Logins",
};

struct SettingType {
  const char* name;
  uint32_t type;
};
// The per-server settings ("<name> <index>") and the type each is read as.
const SettingType kServerSettings[] = {
    {"ConnectionTimeout", platform::kRegDword}, {"Search Timeout", platform::kRegDword},
    {"Proxy Username", platform::kRegSz},       {"Proxy Password", platform::kRegSz},
    {"Clear Text", platform::kRegDword},        {"Certificate", platform::kRegSz},
    {"Port", platform::kRegDword},              {"SSL Port", platform::kRegDword},
};

bool SameName(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

class Auditor {
 public:
  std::vector<Finding> Run() {
    ReadLists();
    CheckTypes();
    CheckPasswords();
    CheckTls();
    CheckContexts();
    CheckWildcardsAndCache();
    CheckListGaps();
    CheckSettingsBeyondList();
    return std::move(findings_);
  }

 private:
  // A list ends where its reader stops: at the first index without a
  // readable text; the server and context lists also at an empty one.
  struct List {
    std::string path;
    int32_t length = 0;
    std::string end_reason;  // why the entry at `length` ends the list
  };

  static List ReadList(const std::string& path, bool empty_ends) {
    List list;
    list.path = path;
    RegKey key;
    key.Open(RegKey::LocalMachine(), path, platform::kKeyRead);
    for (;; ++list.length) {
      const std::string name = std::to_string(list.length);
      std::string text;
      uint32_t size = 0;
      if (!ReadRegistryText(key, path, name, &text)) {
        const bool exists = key.QueryValue(name, nullptr, nullptr, &size) == platform::kRegSuccess;
        list.end_reason = Quoted(name) + (exists ? ", which is longer than 260 characters"
                                                 : ", which is missing");
        break;
      }
      if (empty_ends && text.empty()) {
        list.end_reason = Quoted(name) + ", which is empty";
        break;
      }
    }
    return list;
  }

  void ReadLists() {
    servers_ = ReadList(kServersKeyPath, true);
    trees_ = ReadList(kTreesKeyPath, false);
    try {
      LDAPConfigOptions options;
      scope_enabled_ = options.ContextSearchScopeEnabled();
      wildcards_ = options.AllowWildcards();
      has_options_ = true;
    } catch (const LDAPConfigOptions::BadReg&) {
    }
  }

  void Add(const char* code, const std::string& path, const std::string* value,
           std::string message) {
    findings_.push_back(
        {code, FullKey(path), value != nullptr, value != nullptr ? *value : "", std::move(message)});
  }

  void ExpectType(const std::string& path, const Value& value, uint32_t expected,
                  const char* what) {
    if (value.type == expected) return;
    std::string message = Quoted(value.name) + " is " + TypeName(value.type) + ", but " + what +
                          " is read as " + TypeName(expected);
    if (expected == platform::kRegDword) {
      message += ": the extension takes a 4-byte number from its bytes (the character codes of a "
                 "short text), or the default when it is longer";
    } else if (value.type == platform::kRegExpandSz) {
      message += ": its %...% references are not expanded";
    } else {
      message += ": the extension reads its bytes as text";
    }
    Add("wrong-type", path, &value.name, message);
  }

  void CheckTypes() {
    for (const Value& v : ValuesOf(kOptionsKeyPath)) {
      for (const char* option : kOptionNames) {
        if (SameName(v.name, option)) ExpectType(kOptionsKeyPath, v, platform::kRegDword, "the option");
      }
    }
    int32_t index;
    std::string setting;
    for (const Value& v : ValuesOf(kServersKeyPath)) {
      if (ParseIndex(v.name, &index)) ExpectType(kServersKeyPath, v, platform::kRegSz, "a server entry");
    }
    for (const Value& v : ValuesOf(kServerSettingsKeyPath)) {
      if (!SplitSetting(v.name, &setting, &index)) continue;
      for (const SettingType& s : kServerSettings) {
        if (SameName(setting, s.name)) ExpectType(kServerSettingsKeyPath, v, s.type, "the setting");
      }
    }
    for (const Value& v : ValuesOf(kTreesKeyPath)) {
      if (ParseIndex(v.name, &index)) ExpectType(kTreesKeyPath, v, platform::kRegSz, "a tree entry");
    }
    for (const Value& v : ValuesOf(kContextsKeyPath)) {
      if (SplitSetting(v.name, &setting, &index) &&
          SameName(setting, "Search Context And Subtree")) {
        ExpectType(kContextsKeyPath, v, platform::kRegDword, "the switch");
      }
    }
    for (const std::string& path : ContextSubkeys()) {
      for (const Value& v : ValuesOf(path)) {
        if (ParseIndex(v.name, &index)) ExpectType(path, v, platform::kRegSz, "a search context");
      }
    }
    for (const Value& v : ValuesOf(kLoginKeyPath)) {
      if (SameName(v.name, kLocalLoginValueName)) {
        ExpectType(kLoginKeyPath, v, platform::kRegDword, "the switch");
      }
    }
  }

  // "Software\\Tarvos\\LDAP\\Contexts\\<n>" for every numbered subkey.
  static std::vector<std::string> ContextSubkeys() {
    std::vector<std::string> paths;
    RegKey key;
    if (key.Open(RegKey::LocalMachine(), kContextsKeyPath, platform::kKeyRead) !=
        platform::kRegSuccess) {
      return paths;
    }
    std::string name;
    int32_t index;
    for (uint32_t i = 0; key.EnumSubKey(i, &name) == platform::kRegSuccess; ++i) {
      if (ParseIndex(name, &index)) paths.push_back(std::string(kContextsKeyPath) + "\\" + name);
    }
    return paths;
  }

  void CheckPasswords() {
    std::vector<std::string> passwords;
    std::string setting;
    int32_t index;
    for (const Value& v : ValuesOf(kServerSettingsKeyPath)) {
      if (SplitSetting(v.name, &setting, &index) && SameName(setting, "Proxy Password") &&
          !v.data.empty() && v.data[0] != 0) {
        passwords.push_back(v.name);
      }
    }
    std::string why;
    if (passwords.empty() || !ServerSettingsReadableByUsers(&why)) return;
    for (const std::string& name : passwords) {
      Add("password-readable", kServerSettingsKeyPath, &name,
          "a proxy password is stored where ordinary users can read it: " + why);
    }
  }

  void CheckTls() {
    try {
      LDAPServer server;
      int32_t index = 0;
      for (std::string name = server.FirstServer(); !name.empty();
           name = server.NextServer(), ++index) {
        if (server.UseSSL() && server.Certificate().empty()) {
          const std::string value = "Certificate " + std::to_string(index);
          Add("tls-without-certificate", kServerSettingsKeyPath, &value,
              "server " + std::to_string(index) + " (" + name + ") uses TLS (\"Clear Text " +
                  std::to_string(index) + "\" = 0) but names no trusted certificate file, so " +
                  "its certificate cannot be verified");
        }
      }
    } catch (const LDAPServer::BadReg&) {
    }
  }

  void CheckContexts() {
    if (!scope_enabled_) {
      for (const std::string& path : ContextSubkeys()) {
        if (!ValuesOf(path).empty()) {
          Add("contexts-unused", path, nullptr,
              "search contexts are configured, but \"Context Search Scope Enabled\" is off, so "
              "every search covers the whole tree");
        }
      }
      return;
    }
    RegKey trees;
    trees.Open(RegKey::LocalMachine(), kTreesKeyPath, platform::kKeyRead);
    for (int32_t i = 0; i < trees_.length; ++i) {
      std::string tree;
      ReadRegistryText(trees, kTreesKeyPath, std::to_string(i), &tree);
      if (LDAPPruning(i).FirstContext().empty()) {
        Add("contexts-missing", std::string(kContextsKeyPath) + "\\" + std::to_string(i), nullptr,
            "\"Context Search Scope Enabled\" is on, but tree " + std::to_string(i) + " (" + tree +
                ") has no search contexts, so its whole tree is searched");
      }
    }
  }

  void CheckWildcardsAndCache() {
    if (!has_options_ || !wildcards_) return;
    RegKey key;
    key.Open(RegKey::LocalMachine(), kOptionsKeyPath, platform::kKeyRead);
    if (ReadRegistryNumber(key, kOptionsKeyPath, "UseCachedResults", 0) == 0) return;
    const std::string value = "UseCachedResults";
    Add("wildcards-disable-cache", kOptionsKeyPath, &value,
        "\"UseCachedResults\" is on, but \"Allow Wildcards\" is on too, which keeps the results "
        "cache out of use");
  }

  void CheckListGap(const List& list, const char* what) {
    int32_t index;
    for (const Value& v : ValuesOf(list.path)) {
      if (ParseIndex(v.name, &index) && index > list.length) {
        Add("list-gap", list.path, &v.name,
            std::string("entry ") + Quoted(v.name) + " of the " + what + " is never used: the " +
                "list ends at " + list.end_reason);
      }
    }
  }

  void CheckListGaps() {
    CheckListGap(servers_, "server list");
    CheckListGap(trees_, "tree list");
    for (const std::string& path : ContextSubkeys()) {
      CheckListGap(ReadList(path, true), "search context list");
    }
  }

  void CheckSettingsBeyondList() {
    std::string setting;
    int32_t index;
    for (const Value& v : ValuesOf(kServerSettingsKeyPath)) {
      if (!SplitSetting(v.name, &setting, &index) || index < servers_.length) continue;
      bool known = false;
      for (const SettingType& s : kServerSettings) known = known || SameName(setting, s.name);
      if (!known) continue;
      Add("settings-beyond-list", kServerSettingsKeyPath, &v.name,
          Quoted(v.name) + " is set for server " + std::to_string(index) +
              ", but the server list has " + std::to_string(servers_.length) +
              (servers_.length == 1 ? " entry" : " entries") + ", so it is never used");
    }
  }

  List servers_;
  List trees_;
  bool has_options_ = false;
  bool scope_enabled_ = false;
  bool wildcards_ = false;
  std::vector<Finding> findings_;
};

}  // namespace

std::vector<Finding> AuditConfiguration() { return Auditor().Run(); }

}  // namespace doctor
}  // namespace wendrel
