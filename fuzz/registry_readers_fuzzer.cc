// Every registry reader over any stored type and length: the input is a list
// of writes (a configuration key, a name the readers ask for or any other,
// any type, 0 to 300 bytes) to a fresh store; then every reader's answer is
// compared with what the stored bytes must give: numbers are at most 4 bytes
// over the default (longer data leave it); texts run up to the first zero
// byte, empty when missing or too long (over 260 characters or 261 bytes);
// cache texts up to the first zero of at most 265 bytes. Walks are bounded
// here, so a reader that never ends is a finding too.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/ldap_pruning.h"
#include "config/ldap_server.h"
#include "config/ldap_tree.h"
#include "config/registry_paths.h"
#include "fuzz/support/fuzz_store.h"
#include "tests/unit/support/option_table.h"
#include "results/user_data.h"

namespace wendrel {
namespace {

using fuzzing::Check;
using fuzzing::ExpectedNumber;

const std::string kContexts = kContextsKeyPath;
const std::string kCached = kCachedResultsKeyPath;

const std::vector<std::string> kKeys = {
    kOptionsKeyPath,         kServersKeyPath,          kServerSettingsKeyPath,
    kTreesKeyPath,           kContexts,                kContexts + "\\0",
    kContexts + "\\1",       kCached + "\\ACME\\JSMITH", kCached + "\\+.TreeLess\\JSMITH",
};
enum KeyIndex { kOptions, kServers, kSettings, kTrees, kContextsRoot, kContexts0, kContexts1,
                kCacheTree, kCacheTreeless };

const char* const kSettingPatterns[] = {"ConnectionTimeout ", "Search Timeout ", "Proxy Username ",
                                        "Proxy Password ",    "Clear Text ",     "Certificate ",
                                        "Port ",              "SSL Port "};
const char* const kCacheValues[] = {"UserTree", "UserServer", "User",
                                    "UserContext", "UserFDN", "UserContextFDN"};

// The value names the readers ask for under each key.
std::vector<std::string> NamesFor(int key) {
  std::vector<std::string> names;
  switch (key) {
    case kOptions:
      for (const testing::OptionGetter& option : testing::kEveryOption) {
        names.push_back(option.value_name);
      }
      break;
    case kSettings:
      for (const char* pattern : kSettingPatterns) {
        for (int i = 0; i < 3; ++i) names.push_back(pattern + std::to_string(i));
      }
      break;
    case kContextsRoot:
      for (int i = 0; i < 3; ++i) {
        names.push_back("Search Context And Subtree " + std::to_string(i));
      }
      break;
    case kCacheTree:
    case kCacheTreeless:
      for (const char* name : kCacheValues) names.push_back(name);
      break;
    default:  // lists: "0", "1", ...
      for (int i = 0; i < 4; ++i) names.push_back(std::to_string(i));
      break;
  }
  return names;
}

// What was stored, as the store keeps it: keys that exist, and the values
// by key and upper-cased name (names compare without case).
class Model {
 public:
  void CreateKey(int key) { exists_[key] = true; }
  void Store(int key, const std::string& name, std::vector<uint8_t> data) {
    values_[key][fuzzing::AsciiUpper(name)] = std::move(data);
  }
  bool Exists(int key) const {
    // A key exists when it or a key below it was created.
    for (const auto& [created, yes] : exists_) {
      if (yes && (created == key || kKeys[created].rfind(kKeys[key] + "\\", 0) == 0)) return true;
    }
    return false;
  }
  const std::vector<uint8_t>* Data(int key, const std::string& name) const {
    auto k = values_.find(key);
    if (k == values_.end()) return nullptr;
    auto v = k->second.find(fuzzing::AsciiUpper(name));
    return v == k->second.end() ? nullptr : &v->second;
  }
  uint32_t Number(int key, const std::string& name, uint32_t default_value) const {
    return ExpectedNumber(Data(key, name), default_value);
  }
  // A configuration text: false (and empty) when missing or too long.
  bool Text(int key, const std::string& name, std::string* text) const {
    if (fuzzing::TextUpToZero(Data(key, name), 261, text) && text->size() <= 260) return true;
    text->clear();
    return false;
  }
  std::string TextOrEmpty(int key, const std::string& name) const {
    std::string text;
    Text(key, name, &text);
    return text;
  }
  // A results-cache text: read into 265 bytes.
  bool CacheText(int key, const std::string& name, std::string* text) const {
    return fuzzing::TextUpToZero(Data(key, name), 265, text);
  }

 private:
  std::map<int, bool> exists_;
  std::map<int, std::map<std::string, std::vector<uint8_t>>> values_;
};

void CheckOptions(const Model& model) {
  std::unique_ptr<LDAPConfigOptions> options;
  try {
    options.reset(new LDAPConfigOptions);
  } catch (const LDAPConfigOptions::BadReg&) {
    Check(!model.Exists(kOptions), "options BadReg only without the key");
    return;
  }
  Check(model.Exists(kOptions), "options opened without the key");
  for (const testing::OptionGetter& option : testing::kEveryOption) {
    // UseCachedResults also depends on Allow Wildcards: checked below.
    if (option.value_name == std::string("UseCachedResults")) continue;
    uint32_t expected = model.Number(kOptions, option.value_name, option.default_value);
    if (!option.integer) expected = expected != 0;
    Check(static_cast<uint32_t>(option.get(*options)) == expected,
          std::string("option ") + option.value_name);
  }
  const bool cached = model.Number(kOptions, "Allow Wildcards", 0) == 0 &&
                      model.Number(kOptions, "UseCachedResults", 0) != 0;
  Check(options->UseCachedResults() == cached, "UseCachedResults with Allow Wildcards");
}

void CheckServerSettings(const LDAPServer& server, int index, const Model& model) {
  const std::string n = std::to_string(index);
  auto number = [&](const char* p, uint32_t d) { return model.Number(kSettings, p + n, d); };
  auto text = [&](const char* p) { return model.TextOrEmpty(kSettings, p + n); };
  Check(server.ConnectionTimeout() == static_cast<int32_t>(number("ConnectionTimeout ", 5)),
        "ConnectionTimeout");
  Check(server.SearchTimeout() == static_cast<int32_t>(number("Search Timeout ", 20)),
        "SearchTimeout");
  Check(server.ProxyUsername() == text("Proxy Username "), "ProxyUsername");
  Check(server.ProxyPassword() == text("Proxy Password "), "ProxyPassword");
  Check(server.Certificate() == text("Certificate "), "Certificate");
  const bool clear = number("Clear Text ", 1) != 0;
  Check(server.UseSSL() == !clear, "UseSSL");
  const uint32_t port = clear ? number("Port ", 389) : number("SSL Port ", 636);
  Check(server.Port() == static_cast<int32_t>(port), "Port");
}

void CheckServers(const Model& model) {
  std::unique_ptr<LDAPServer> server;
  try {
    server.reset(new LDAPServer);
  } catch (const LDAPServer::BadReg&) {
    Check(!model.Exists(kServers), "servers BadReg only without the key");
    return;
  }
  Check(model.Exists(kServers), "server list opened without the key");
  CheckServerSettings(*server, 0, model);  // before the walk: server 0
  int index = 0;
  for (std::string name = server->FirstServer();; name = server->NextServer(), ++index) {
    Check(index <= 4, "the server walk ends");
    Check(name == model.TextOrEmpty(kServers, std::to_string(index)), "server name");
    if (name.empty()) break;
    CheckServerSettings(*server, index, model);
  }
  // The index moves on whether or not a name was read.
  Check(server->NextServer() == model.TextOrEmpty(kServers, std::to_string(index + 1)),
        "the walk goes on past its end");
}

void CheckTree(const std::string& name, const Model& model) {
  int expected = -1;
  if (model.Exists(kTrees)) {
    std::string entry;
    for (int i = 0; expected < 0 && model.Text(kTrees, std::to_string(i), &entry); ++i) {
      if (EqualsIgnoringCase(name, entry)) expected = i;
    }
  }
  try {
    LDAPTree tree(name);
    Check(tree.GetIndex() == expected, "tree index is the first match before a gap");
  } catch (const LDAPTree::BadReg&) {
    Check(expected < 0, "tree BadReg only when no entry matches");
  }
}

void CheckContexts(int tree_index, const Model& model) {
  LDAPPruning pruning(tree_index);
  const std::string subtree = "Search Context And Subtree " + std::to_string(tree_index);
  Check(pruning.SearchSubtree() == (model.Number(kContextsRoot, subtree, 1) != 0),
        "SearchSubtree");
  const int key = tree_index == 0 ? kContexts0 : tree_index == 1 ? kContexts1 : -1;
  for (int pass = 0; pass < 2; ++pass) {  // FirstContext restarts the walk
    int index = 0;
    for (std::string context = pruning.FirstContext();; context = pruning.NextContext(), ++index) {
      Check(index <= 4, "the context walk ends");
      std::string expected;
      if (key >= 0) model.Text(key, std::to_string(index), &expected);
      Check(context == expected, "context text");
      if (context.empty()) {
        // An empty entry was read and counted; a failed read is not counted.
        std::string ignored;
        const bool counted = key >= 0 && model.Text(key, std::to_string(index), &ignored);
        std::string next;
        if (counted) model.Text(key, std::to_string(index + 1), &next);
        Check(pruning.NextContext() == next, "the walk after its end");
        break;
      }
    }
  }
}

void CheckCache(const Model& model) {
  bool treeless = false;
  try {
    LDAPConfigOptions options;
    treeless = options.TreelessLoginEnabled();
  } catch (const LDAPConfigOptions::BadReg&) {
    UserData users(" jsmith ", "ACME");
    bool thrown = false;
    try {
      users.ReadCachedUser();
    } catch (const LDAPConfigOptions::BadReg&) {
      thrown = true;
    }
    Check(thrown && users.GetUserCount() == 0, "the cache needs the options");
    return;
  }
  const int key = treeless ? kCacheTreeless : kCacheTree;
  std::map<std::string, std::string> texts;
  bool readable = model.Exists(key);
  for (const char* name : kCacheValues) {
    readable = readable && model.CacheText(key, name, &texts[name]);
  }
  UserData users(" jsmith ", "ACME");
  Check(users.ReadCachedUser() == readable, "a cache entry is read when all six values are");
  if (!readable) {
    Check(users.GetUserCount() == 0, "nothing added from an unreadable entry");
    return;
  }
  Check(users.GetUserCount() == 1, "one user from the cache");
  const UserObj& user = *users.GetFirstUser();
  const std::map<std::string, std::string> read = {
      {"UserTree", users.GetTreeName()}, {"UserServer", users.GetServerName()},
      {"User", user.GetUser()},          {"UserContext", user.GetUserContext()},
      {"UserFDN", user.GetUserFDN()},    {"UserContextFDN", user.GetUserContextFDN()}};
  Check(read == texts, "the six texts of the cached user");
  std::string attribute;
  Check(!user.GetAttribute("mail", &attribute), "a cached user has no attributes");
}

}  // namespace
}  // namespace wendrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  FuzzedDataProvider input(bytes, size);
  fuzzing::FuzzStore& store = fuzzing::SharedStore();
  store.Reset();
  Model model;
  std::vector<std::string> tree_names = {"ACME", ""};

  for (int writes = 0; writes < 48 && input.remaining_bytes() > 0; ++writes) {
    const int key = input.ConsumeIntegralInRange<int>(0, static_cast<int>(kKeys.size()) - 1);
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    if (how == 0xFF) {  // a key without values
      if (store.CreateKey(kKeys[key])) model.CreateKey(key);
      continue;
    }
    const std::vector<std::string> names = NamesFor(key);
    const std::string name = how < names.size() * 4 ? names[how % names.size()]
                                                    : input.ConsumeRandomLengthString(300);
    const uint8_t type_choice = input.ConsumeIntegral<uint8_t>();
    const uint32_t types[] = {1, 4, 3, 11, 7, 2, 0};
    const uint32_t type = type_choice < 7 * 32 ? types[type_choice % 7]
                                               : input.ConsumeIntegral<uint32_t>();
    std::vector<uint8_t> data = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 300));
    if (key == kTrees) tree_names.emplace_back(data.begin(), data.end());
    if (store.SetRaw(kKeys[key], name, type, data)) {
      model.Store(key, name, std::move(data));
    }
    if (store.CreateKey(kKeys[key])) model.CreateKey(key);
  }
  tree_names.push_back(input.ConsumeRemainingBytesAsString());

  CheckOptions(model);
  CheckServers(model);
  for (std::string& name : tree_names) {
    // A tree name is a C string to the readers.
    CheckTree(name.c_str(), model);
    CheckTree(fuzzing::AsciiUpper(name.c_str()), model);
  }
  for (int tree_index = 0; tree_index < 3; ++tree_index) CheckContexts(tree_index, model);
  CheckCache(model);
  return 0;
}
