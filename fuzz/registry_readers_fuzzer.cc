// Every registry reader over any stored type and length. The input is a list
// of writes (a key of the configuration, a value name the readers ask for or
// any other name, any type, 0 to 300 bytes) into a fresh store; then the
// options, the server list with its settings, the tree list, the contexts of
// three trees and the results cache are read. Checked: every walk ends, every
// text fits its buffer, and a value stored in the readers' own form reads
// back as stored (missing: the default or ""; a number: 4 bytes; a text: one
// zero byte, at its end). How other forms read is the unit tests' business.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "config/ldap_config_options.h"
#include "config/ldap_pruning.h"
#include "config/ldap_server.h"
#include "config/ldap_tree.h"
#include "config/registry_paths.h"
#include "fuzz/support/fuzz_store.h"
#include "results/user_data.h"
#include "tests/unit/support/option_table.h"

namespace wendrel {
namespace {

using fuzzing::Check;
using Bytes = std::vector<uint8_t>;

const std::string kContexts = kContextsKeyPath;
const std::string kCached = kCachedResultsKeyPath;
const std::vector<std::string> kKeys = {
    kOptionsKeyPath,   kServersKeyPath,   kServerSettingsKeyPath,     kTreesKeyPath,
    kContexts,         kContexts + "\\0", kContexts + "\\1",          kCached + "\\ACME\\JSMITH",
    kCached + "\\+.TreeLess\\JSMITH"};
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
  if (key == kOptions) {
    for (const testing::OptionGetter& option : testing::kEveryOption) {
      names.push_back(option.value_name);
    }
  } else if (key == kSettings) {
    for (const char* pattern : kSettingPatterns) {
      for (int i = 0; i < 3; ++i) names.push_back(pattern + std::to_string(i));
    }
  } else if (key == kContextsRoot) {
    for (int i = 0; i < 3; ++i) names.push_back("Search Context And Subtree " + std::to_string(i));
  } else if (key == kCacheTree || key == kCacheTreeless) {
    names.assign(std::begin(kCacheValues), std::end(kCacheValues));
  } else {  // lists: "0", "1", ...
    for (int i = 0; i < 4; ++i) names.push_back(std::to_string(i));
  }
  return names;
}

// What was stored: the keys created and the values by key and upper-cased
// name (names compare without case).
std::set<int> g_created;
std::map<std::pair<int, std::string>, Bytes> g_values;

bool Exists(int key) {  // it or a key below it was created
  for (int created : g_created) {
    if (created == key || kKeys[created].rfind(kKeys[key] + "\\", 0) == 0) return true;
  }
  return false;
}

const Bytes* Data(int key, const std::string& name) {
  auto it = g_values.find({key, fuzzing::AsciiUpper(name)});
  return it == g_values.end() ? nullptr : &it->second;
}

// A text in the readers' own form: one zero byte, at its end.
bool Terminated(const Bytes& data) {
  return !data.empty() && std::find(data.begin(), data.end(), 0) == data.end() - 1;
}

void CheckNumber(int64_t got, int key, const std::string& name, uint32_t default_value,
                 bool is_switch = false) {
  uint32_t stored;
  if (!fuzzing::KnownNumber(Data(key, name), default_value, &stored)) return;
  Check(got == (is_switch ? int64_t{stored != 0} : int64_t{static_cast<int32_t>(stored)}), name);
}

// A text read into a buffer of `buffer` bytes.
void CheckText(const std::string& got, int key, const std::string& name, size_t buffer) {
  Check(got.size() < buffer, name + " fits its buffer");
  const Bytes* data = Data(key, name);
  if (data == nullptr) return Check(got.empty(), name + " missing reads as empty");
  if (data->size() <= buffer && Terminated(*data)) {
    Check(got == std::string(data->begin(), data->end() - 1), name + " reads as stored");
  }
}

template <typename Reader>
std::unique_ptr<Reader> Open(int key) {
  std::unique_ptr<Reader> reader;
  try {
    reader.reset(new Reader);
  } catch (const typename Reader::BadReg&) {
  }
  Check((reader != nullptr) == Exists(key), kKeys[key] + ": BadReg exactly when it is missing");
  return reader;
}

void CheckOptions() {
  std::unique_ptr<LDAPConfigOptions> options = Open<LDAPConfigOptions>(kOptions);
  if (options == nullptr) return;
  for (const testing::OptionGetter& option : testing::kEveryOption) {
    // UseCachedResults also depends on Allow Wildcards.
    if (option.value_name == std::string("UseCachedResults")) continue;
    CheckNumber(option.get(*options), kOptions, option.value_name, option.default_value,
                !option.integer);
  }
  Check(!options->AllowWildcards() || !options->UseCachedResults(), "wildcards rule out the cache");
}

void CheckServerSettings(const LDAPServer& server, int index) {
  const std::string n = std::to_string(index);
  CheckNumber(server.ConnectionTimeout(), kSettings, "ConnectionTimeout " + n, 5);
  CheckNumber(server.SearchTimeout(), kSettings, "Search Timeout " + n, 20);
  CheckNumber(!server.UseSSL(), kSettings, "Clear Text " + n, 1, true);
  CheckNumber(server.Port(), kSettings, (server.UseSSL() ? "SSL Port " : "Port ") + n,
              server.UseSSL() ? 636 : 389);
  CheckText(server.ProxyUsername(), kSettings, "Proxy Username " + n, 261);
  CheckText(server.ProxyPassword(), kSettings, "Proxy Password " + n, 261);
  CheckText(server.Certificate(), kSettings, "Certificate " + n, 261);
}

void CheckServers() {
  std::unique_ptr<LDAPServer> server = Open<LDAPServer>(kServers);
  if (server == nullptr) return;
  CheckServerSettings(*server, 0);  // before the walk: server 0
  int index = 0;
  for (std::string name = server->FirstServer();; name = server->NextServer(), ++index) {
    Check(index <= 4, "the server walk ends");
    CheckText(name, kServers, std::to_string(index), 261);
    if (name.empty()) break;
    CheckServerSettings(*server, index);
  }
  // The index moves on whether or not a name was read.
  CheckText(server->NextServer(), kServers, std::to_string(index + 1), 261);
}

int TreeIndex(const std::string& name) {
  try {
    return LDAPTree(name).GetIndex();
  } catch (const LDAPTree::BadReg&) {
    return -2;
  }
}

void CheckTree(const std::string& name) {
  const int index = TreeIndex(name);
  Check(index == TreeIndex(fuzzing::AsciiUpper(name)), "tree lookup ignores case");
  if (index < 0) return;
  const Bytes* data = Data(kTrees, std::to_string(index));
  Check(data != nullptr, "the tree found is an entry of the list");
  if (Terminated(*data)) {
    Check(EqualsIgnoringCase(name, std::string(data->begin(), data->end() - 1)),
          "the tree found has the name asked for");
  }
}

void CheckContexts(int tree_index) {
  LDAPPruning pruning(tree_index);
  CheckNumber(pruning.SearchSubtree(), kContextsRoot,
              "Search Context And Subtree " + std::to_string(tree_index), 1, true);
  const int key = tree_index == 0 ? kContexts0 : tree_index == 1 ? kContexts1 : -1;
  std::vector<std::string> walks[2];
  for (std::vector<std::string>& walk : walks) {  // FirstContext restarts the walk
    for (std::string context = pruning.FirstContext();; context = pruning.NextContext()) {
      Check(walk.size() <= 4, "the context walk ends");
      CheckText(context, key, std::to_string(walk.size()), 261);
      walk.push_back(context);
      if (context.empty()) break;
    }
  }
  Check(walks[0] == walks[1], "FirstContext restarts the walk");
}

void CheckCache() {
  std::unique_ptr<LDAPConfigOptions> options;
  try {
    options.reset(new LDAPConfigOptions);
  } catch (const LDAPConfigOptions::BadReg&) {
  }
  UserData users(" jsmith ", "ACME");
  bool read = false;
  try {
    read = users.ReadCachedUser();
    Check(options != nullptr, "the cache needs the options");
  } catch (const LDAPConfigOptions::BadReg&) {
    Check(options == nullptr, "BadReg from the cache only without the options");
  }
  Check(users.GetUserCount() == (read ? 1u : 0u), "one user from a cache entry read");
  const int key = options && options->TreelessLoginEnabled() ? kCacheTreeless : kCacheTree;
  bool every_value_stored = true;
  for (const char* name : kCacheValues) every_value_stored &= Data(key, name) != nullptr;
  if (options != nullptr && !every_value_stored) Check(!read, "an entry needs all six values");
  if (!read) return;
  const UserObj& user = *users.GetFirstUser();
  const std::string texts[] = {users.GetTreeName(),    users.GetServerName(),
                               user.GetUser(),         user.GetUserContext(),
                               user.GetUserFDN(),      user.GetUserContextFDN()};
  for (size_t i = 0; i < 6; ++i) CheckText(texts[i], key, kCacheValues[i], 265);
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
  g_created.clear();
  g_values.clear();
  std::vector<std::string> tree_names = {"ACME", ""};
  for (int writes = 0; writes < 48 && input.remaining_bytes() > 0; ++writes) {
    const int key = input.ConsumeIntegralInRange<int>(0, static_cast<int>(kKeys.size()) - 1);
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    if (how != 0xFF) {  // else a key without values
      const std::vector<std::string> names = NamesFor(key);
      const std::string name = how < names.size() * 4 ? names[how % names.size()]
                                                      : input.ConsumeRandomLengthString(300);
      const uint8_t type_choice = input.ConsumeIntegral<uint8_t>();
      const uint32_t types[] = {1, 4, 3, 11, 7, 2, 0};
      const uint32_t type = type_choice < 7 * 32 ? types[type_choice % 7]
                                                 : input.ConsumeIntegral<uint32_t>();
      Bytes data = input.ConsumeBytes<uint8_t>(input.ConsumeIntegralInRange(0, 300));
      if (key == kTrees) tree_names.emplace_back(data.begin(), data.end());
      if (store.SetRaw(kKeys[key], name, type, data)) {
        g_values[{key, fuzzing::AsciiUpper(name)}] = std::move(data);
      }
    }
    if (store.CreateKey(kKeys[key])) g_created.insert(key);
  }
  tree_names.push_back(input.ConsumeRemainingBytesAsString());

  CheckOptions();
  CheckServers();
  for (const std::string& name : tree_names) CheckTree(name.c_str());  // a C string to them
  for (int tree_index = 0; tree_index < 3; ++tree_index) CheckContexts(tree_index);
  CheckCache();
  return 0;
}
