#include "standins/directory_services.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/codepage.h"
#include "platform/ldap.h"
#include "standins/directory_client.h"

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

bool ServesTree(platform::LdapHandle* ld, const std::u16string& tree,
                const platform::LdapTimeval& wait) {
  std::string name;
  return standins::ReadRootTreeName(ld, wait, &name) == standins::TreeNameRead::kRead &&
         FoldTree(platform::Utf8ToUtf16(name)) == tree;
}

Answer AskServer(const standins::ConfiguredServer& server, const std::u16string& tree,
                 const std::string& dn) {
  standins::ConnectBound bound(kDsWaitSeconds);
  const platform::LdapTimeval wait = {kDsWaitSeconds, 0};
  standins::LdapConnection ld = standins::ConnectAndBind(server, wait);
  if (!ld || !ServesTree(ld.get(), tree, wait)) return Answer::kUnreachable;
  standins::LdapResultMessage result;
  // "1.1": no attributes, only whether the entry is there.
  const int code = standins::ReadBaseObject(ld.get(), dn, "1.1", wait, &result);
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
  for (const wendrel::standins::ConfiguredServer& server :
       wendrel::standins::ReadConfiguredServers()) {
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
