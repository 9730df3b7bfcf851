#include "standins/directory_services.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/registry_paths.h"
#include "platform/codepage.h"
#include "platform/ldap.h"
#include "platform/registry.h"

namespace wendrel {
namespace {

struct Context {
  std::string tree;          // ANSI
  std::string name_context;  // ANSI, typed RDNs joined with "."
};

// The live contexts: handle → settings.
class ContextTable {
 public:
  uint32_t Add() {
    std::lock_guard<std::mutex> lock(mutex_);
    do {
      ++last_;
    } while (last_ == 0 || contexts_.count(last_) != 0);  // 0 is never a handle
    contexts_[last_] = Context();
    return last_;
  }
  bool Set(uint32_t handle, uint32_t setting, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = contexts_.find(handle);
    if (it == contexts_.end()) return false;
    (setting == kDsSettingTreeName ? it->second.tree : it->second.name_context) = value;
    return true;
  }
  bool Find(uint32_t handle, Context* context) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = contexts_.find(handle);
    if (it == contexts_.end()) return false;
    *context = it->second;
    return true;
  }
  bool Remove(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    return contexts_.erase(handle) != 0;
  }

 private:
  std::mutex mutex_;
  uint32_t last_ = 0;
  std::map<uint32_t, Context> contexts_;
};

ContextTable& Table() {
  // Never destroyed: a context may be freed during process exit.
  static ContextTable* table = new ContextTable;
  return *table;
}

// --- The configured servers ------------------------------------------------

struct Server {
  std::string host;
  int port = 389;
  bool tls = false;
  std::string certificate;
  std::string bind_dn;  // ANSI; empty binds anonymously
  std::string password;
};

uint32_t ReadNumber(const platform::RegKey& key, const std::string& name, uint32_t fallback) {
  uint32_t value = fallback;
  uint32_t size = sizeof(value);
  if (key.QueryValue(name, nullptr, &value, &size) != platform::kRegSuccess) return fallback;
  return value;
}

std::string ReadText(const platform::RegKey& key, const std::string& name) {
  char buffer[262] = {};
  uint32_t size = 261;
  if (key.QueryValue(name, nullptr, buffer, &size) != platform::kRegSuccess) return "";
  return std::string(buffer);
}

// The server list in index order, with each server's settings as the
// extension's own server reader takes them ("Clear Text 0", "Port 0", ...).
// The registry is read directly: the stand-in sits below the extension.
std::vector<Server> ConfiguredServers() {
  std::vector<Server> servers;
  platform::RegKey list;
  if (list.Open(platform::RegKey::LocalMachine(), kServersKeyPath, platform::kKeyRead) !=
      platform::kRegSuccess) {
    return servers;
  }
  platform::RegKey settings;  // missing: every setting has its default
  settings.Open(platform::RegKey::LocalMachine(), kServerSettingsKeyPath, platform::kKeyRead);
  for (uint32_t i = 0;; ++i) {
    Server server;
    server.host = ReadText(list, std::to_string(i));
    if (server.host.empty()) break;
    const std::string n = " " + std::to_string(i);
    server.tls = ReadNumber(settings, "Clear Text" + n, 1) == 0;
    server.port = static_cast<int>(server.tls ? ReadNumber(settings, "SSL Port" + n, 636)
                                              : ReadNumber(settings, "Port" + n, 389));
    server.certificate = ReadText(settings, "Certificate" + n);
    server.bind_dn = ReadText(settings, "Proxy Username" + n);
    server.password = ReadText(settings, "Proxy Password" + n);
    servers.push_back(server);
  }
  return servers;
}

// --- LDAP -------------------------------------------------------------------

struct HandleCloser {
  void operator()(platform::LdapHandle* ld) const { platform::LdapUnbind(ld); }
};
struct MessageFreer {
  void operator()(platform::LdapMessage* m) const { platform::LdapMsgFree(m); }
};
struct ValuesFreer {
  void operator()(char** values) const { platform::LdapValueFree(values); }
};
using Handle = std::unique_ptr<platform::LdapHandle, HandleCloser>;
using Message = std::unique_ptr<platform::LdapMessage, MessageFreer>;
using Values = std::unique_ptr<char*, ValuesFreer>;

// Bounds connecting with the library-wide network time-out while it lives,
// when the extension has set none; the extension's own stays in force
// otherwise, and the stand-in's is removed again afterwards.
class ConnectBound {
 public:
  ConnectBound() {
    platform::LdapTimeval* current = nullptr;
    platform::LdapGetOption(nullptr, platform::kLdapOptNetworkTimeout, &current);
    if (current != nullptr) {
      platform::LdapMemFree(current);
      return;
    }
    const platform::LdapTimeval bound = {kDsWaitSeconds, 0};
    set_ = platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, &bound) ==
           platform::kLdapSuccess;
  }
  ~ConnectBound() {
    if (set_) platform::LdapSetOption(nullptr, platform::kLdapOptNetworkTimeout, nullptr);
  }
  ConnectBound(const ConnectBound&) = delete;
  ConnectBound& operator=(const ConnectBound&) = delete;

 private:
  bool set_ = false;
};

std::string AnsiToUtf8(const std::string& ansi) {
  return platform::Utf16ToUtf8(platform::AnsiToUtf16(ansi));
}

// Tree names compared ignoring the case of A-Z, as UTF-16.
std::u16string FoldTree(std::u16string tree) {
  for (char16_t& c : tree) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return tree;
}

enum class Answer { kFound, kNotFound, kUnreachable };

// A connection bound with the server's credentials, or null.
Handle Connect(const Server& server, const platform::LdapTimeval& wait) {
  if (server.tls && !server.certificate.empty()) {
    platform::LdapSslAddTrustedCert(server.certificate.c_str(), platform::kLdapCertFilePem);
  }
  Handle ld(server.tls ? platform::LdapSslInit(server.host.c_str(), server.port, 1)
                       : platform::LdapInit(server.host.c_str(), server.port));
  if (!ld) return nullptr;
  const int version = 3;
  platform::LdapSetOption(ld.get(), platform::kLdapOptProtocolVersion, &version);
  const int no_referrals = 0;
  platform::LdapSetOption(ld.get(), platform::kLdapOptReferrals, &no_referrals);

  const std::string dn = AnsiToUtf8(server.bind_dn);
  const std::string password = AnsiToUtf8(server.password);
  const int bind = platform::LdapSimpleBind(ld.get(), dn.c_str(), password.c_str());
  if (bind == -1) return nullptr;
  platform::LdapMessage* raw = nullptr;
  const int type = platform::LdapResult(ld.get(), bind, 0, &wait, &raw);
  Message result(raw);
  if (type != platform::kLdapResBind ||
      platform::LdapResult2Error(ld.get(), result.get(), 0) != platform::kLdapSuccess) {
    return nullptr;
  }
  return ld;
}

// A base-object read of `base` (UTF-8) asking for one attribute: the result
// code, with the result (if any) in *result.
int ReadBase(platform::LdapHandle* ld, const std::string& base, const char* attribute,
             const platform::LdapTimeval& wait, Message* result) {
  std::string requested(attribute);
  char* attributes[] = {&requested[0], nullptr};
  platform::LdapMessage* raw = nullptr;
  const int code =
      platform::LdapSearchExtS(ld, base.c_str(), platform::kLdapScopeBase, "(objectClass=*)",
                               attributes, 0, nullptr, nullptr, &wait, 0, &raw);
  result->reset(raw);
  return code;
}

bool ServesTree(platform::LdapHandle* ld, const std::u16string& tree,
                const platform::LdapTimeval& wait) {
  Message result;
  if (ReadBase(ld, "", "directoryTreeName", wait, &result) != platform::kLdapSuccess) {
    return false;
  }
  platform::LdapMessage* entry = platform::LdapFirstEntry(ld, result.get());
  if (entry == nullptr) return false;
  Values values(platform::LdapGetValues(ld, entry, "directoryTreeName"));
  if (!values || values.get()[0] == nullptr) return false;
  return FoldTree(platform::Utf8ToUtf16(values.get()[0])) == tree;
}

Answer AskServer(const Server& server, const std::u16string& tree, const std::string& dn) {
  ConnectBound bound;
  const platform::LdapTimeval wait = {kDsWaitSeconds, 0};
  Handle ld = Connect(server, wait);
  if (!ld || !ServesTree(ld.get(), tree, wait)) return Answer::kUnreachable;
  Message result;
  // "1.1": no attributes, only whether the entry is there.
  const int code = ReadBase(ld.get(), dn, "1.1", wait, &result);
  if (code == platform::kLdapSuccess &&
      platform::LdapFirstEntry(ld.get(), result.get()) != nullptr) {
    return Answer::kFound;
  }
  // Client-side codes (0x51 and up) mean the server did not answer.
  return code > platform::kLdapOther ? Answer::kUnreachable : Answer::kNotFound;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when context[from..] starts with an attribute descriptor (a letter,
// then letters, digits and "-") followed by "=".
bool StartsRdn(const std::string& context, size_t from) {
  const size_t equals = context.find('=', from);
  if (equals == std::string::npos || equals == from || !IsLetter(context[from])) return false;
  for (size_t i = from; i < equals; ++i) {
    const char c = context[i];
    if (!IsLetter(c) && !IsDigit(c) && c != '-') return false;
  }
  return true;
}

}  // namespace

bool ContextToDn(const std::string& name, const std::string& context, std::string* dn) {
  if (name.empty()) return false;
  std::string out = name;
  if (!context.empty()) {
    out += ',';
    for (size_t i = 0; i < context.size(); ++i) {
      const bool separator = context[i] == '.' && StartsRdn(context, i + 1);
      out += separator ? ',' : context[i];
    }
  }
  *dn = std::move(out);
  return true;
}

}  // namespace wendrel

using wendrel::Table;

extern "C" uint32_t QZDSCreateContext(uint32_t* context) {
  if (context == nullptr) return wendrel::kDsBadParameter;
  *context = Table().Add();
  return 0;
}

extern "C" uint32_t QZDSSetContext(uint32_t context, uint32_t setting, const void* value) {
  if (value == nullptr || (setting != wendrel::kDsSettingTreeName &&
                           setting != wendrel::kDsSettingNameContext)) {
    return wendrel::kDsBadParameter;
  }
  return Table().Set(context, setting, static_cast<const char*>(value)) ? 0
                                                                          : wendrel::kDsBadContext;
}

extern "C" uint32_t QZDSLookupName(uint32_t context, const char* object_name, void* reserved1,
                                   void* reserved2) {
  if (object_name == nullptr || reserved1 != nullptr || reserved2 != nullptr) {
    return wendrel::kDsBadParameter;
  }
  wendrel::Context settings;
  if (!Table().Find(context, &settings)) return wendrel::kDsBadContext;
  std::string dn;
  if (settings.tree.empty() || !wendrel::ContextToDn(object_name, settings.name_context, &dn)) {
    return wendrel::kDsBadName;
  }
  // The cache keeps ANSI text; LDAP carries UTF-8.
  dn = wendrel::AnsiToUtf8(dn);
  const std::u16string tree =
      wendrel::FoldTree(wendrel::platform::AnsiToUtf16(settings.tree));
  bool answered = false;
  for (const wendrel::Server& server : wendrel::ConfiguredServers()) {
    switch (wendrel::AskServer(server, tree, dn)) {
      case wendrel::Answer::kFound:
        return 0;
      case wendrel::Answer::kNotFound:
        answered = true;  // another server of the tree may still know it
        break;
      case wendrel::Answer::kUnreachable:
        break;
    }
  }
  return answered ? wendrel::kDsNoSuchObject : wendrel::kDsTreeUnreachable;
}

extern "C" uint32_t QZDSFreeContext(uint32_t context) {
  return Table().Remove(context) ? 0 : wendrel::kDsBadContext;
}
