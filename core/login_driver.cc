#include "core/login_driver.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "config/ldap_config_options.h"
#include "config/ldap_tree.h"
#include "config/registry_paths.h"
#include "core/user_choice.h"
#include "core/wendrel_app.h"
#include "core/workers.h"
#include "directory/reachability.h"
#include "directory/server_probe.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "platform/codepage.h"
#include "platform/cursor.h"
#include "platform/event_log.h"
#include "platform/framework/app.h"
#include "platform/ldap.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"

namespace wendrel {
namespace {

void* s_pStartInfo = nullptr;
void* s_pStartUIInfo = nullptr;

// Events the host sends while another is being handled. The message boxes
// and the selection dialog run modal loops on the host's thread; the login
// prompt behind them is disabled, but the host's own messages still flow
// and may deliver an event from inside the loop. Such an event is only
// passed on to the replaced handler: a second search inside the first, or a
// new start record, would run on state the outer event is using. Only
// QZLG_TERMINATE cannot be dropped: it is held and handled once the outer
// event is over, so nothing the outer search uses is torn down under it.
std::atomic<int> g_events_in_progress{0};
std::atomic<int> g_terminate_held{0};

class EventNesting {
 public:
  EventNesting() : outermost_(g_events_in_progress.fetch_add(1) == 0) {}
  ~EventNesting() { g_events_in_progress.fetch_sub(1); }
  EventNesting(const EventNesting&) = delete;
  EventNesting& operator=(const EventNesting&) = delete;
  bool outermost() const { return outermost_; }

 private:
  const bool outermost_;
};

// The hourglass from construction until Restore or the end of the scope.
class WaitCursor {
 public:
  WaitCursor() : previous_(platform::ShowWaitCursor()) {}
  ~WaitCursor() { Restore(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
  void Restore() { platform::RestoreCursor(previous_); }

 private:
  platform::CursorHandle previous_;
};

// Bytes of `text` that fit in `limit` without splitting an ANSI character.
size_t FitAnsi(const std::string& text, size_t limit) {
  size_t used = 0;
  while (used < text.size()) {
    size_t length = std::max<size_t>(1, platform::AnsiCharLength(text.c_str() + used));
    if (used + length > limit || used + length > text.size()) break;
    used += length;
  }
  return used;
}

// The host's typed name as UTF-8: ANSI to UTF-16 (at most 260 units, never
// splitting a surrogate pair), then UTF-8 (at most 260 bytes, never splitting
// a character). A longer name is searched for by its cut form, which cannot
// match a longer entry by accident: the filter compares whole values.
std::string TypedNameAsUtf8(const std::string& ansi) {
  std::u16string utf16 = platform::AnsiToUtf16(ansi);
  std::string utf8 = platform::Utf16ToUtf8(platform::TruncateUtf16(utf16, kLoginNameUnits));
  if (utf8.size() > kLoginNameUnits) {
    size_t cut = kLoginNameUnits;
    while (cut > 0 && (static_cast<unsigned char>(utf8[cut]) & 0xC0) == 0x80) --cut;
    utf8.resize(cut);
  }
  return utf8;
}

// Removes leading and trailing white space from a text field in place.
void TrimHostText(void* record, StartInfoTextField field) {
  HostText host = LoadText(record, field);
  if (host.buffer == nullptr || host.size <= 0) return;
  std::string text = ReadHostText(record, field);
  std::string trimmed = TrimWhiteSpace(text);
  if (trimmed.size() == text.size()) return;
  size_t size = static_cast<size_t>(host.size);
  std::memset(host.buffer, 0, size);
  std::memcpy(host.buffer, trimmed.data(), std::min(trimmed.size(), size));
}

bool EqualsIgnoringAsciiCase(const char* text, const char* expected) {
  if (text == nullptr) return false;
  for (; *text != '\0' && *expected != '\0'; ++text, ++expected) {
    unsigned char a = static_cast<unsigned char>(*text);
    unsigned char b = static_cast<unsigned char>(*expected);
    if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b - 'A' + 'a');
    if (a != b) return false;
  }
  return *text == '\0' && *expected == '\0';
}

// "Local Login" under Software\Tarvos\Login: true only when it was read and is
// non-zero. A missing key or value lets the login go on.
bool LocalLoginSet() {
  platform::RegKey key;
  if (key.Open(platform::RegKey::LocalMachine(), kLoginKeyPath, platform::kKeyRead) !=
      platform::kRegSuccess) {
    return false;
  }
  uint32_t value = 0;
  uint32_t size = sizeof value;
  int32_t status = key.QueryValue(kLocalLoginValueName, nullptr, &value, &size);
  return status == platform::kRegSuccess && value != 0;
}

// Write-back W of one found user.
void WriteBack(void* record, const LDAPConfigOptions& options, const UserData& users,
               const UserObj& user) {
  if (options.TreelessLoginEnabled()) {
    WriteHostText(record, kStartInfoTree, users.GetTreeName());
    HostText field24 = LoadText(record, kStartInfoField24);
    if (field24.buffer != nullptr && field24.size > 0) {
      std::memset(field24.buffer, 0, static_cast<size_t>(field24.size));
    }
  }
  WriteHostText(record, kStartInfoUser, user.GetUser());
  WriteHostText(record, kStartInfoContext, user.GetUserContext());
}

// The opt-in event of a successful resolution, read only now that there is
// one. It names the user found, never what was typed.
void ReportResolved(const LDAPConfigOptions& options, const UserData& users, const UserObj& user,
                    bool from_cache) {
  if (!options.LogSuccessfulLogins()) return;
  // The whole name, as the client spells it: the entry's and its context's.
  std::string fdn = user.GetUserFDN();
  if (!user.GetUserContextFDN().empty()) fdn += "." + user.GetUserContextFDN();
  platform::ReportEvent(platform::EventId::kLoginResolved,
                        {fdn, users.GetTreeName(),
                         from_cache ? std::string("the results cache")
                                    : "the directory server " + users.GetServerName()});
}

void MarkCallingModule(void* record) {
  if (EqualsIgnoringAsciiCase(LoadProviderName(record), kZelnetProvider) ||
      LoadCallingModule(record) == kCallingModuleUnset) {
    StoreCallingModule(record, kCallingModuleMark);
  }
}

void NotifyHost(void* host) {
  if (host == nullptr) return;
  HostNotifyFn notify = LoadNotify(host);
  if (notify != nullptr) notify(host, kNotifyResolved, 0, 0, 0);
}

// Steps 6 to 13 of the search path, with the hourglass up.
void ResolveAndWriteBack(void* host, uint32_t event, void* record,
                         const LDAPConfigOptions& options, const char* tree_buffer,
                         WaitCursor& cursor) {
  if (event == kEventSearch) WaitForConnectivity();
  std::string name = TypedNameAsUtf8(ReadHostText(record, kStartInfoUser));
  std::unique_ptr<UserData> users(new UserData(
      name, tree_buffer[0] != '\0' ? std::string(tree_buffer)
                                   : ReadHostText(record, kStartInfoTree)));
  std::unique_ptr<LDAPSearchUser> searcher;
  bool cached = options.UseCachedResults();
  const bool from_cache = cached && users->ReadCachedUser();
  if (!from_cache) {
    searcher.reset(new LDAPSearchUser());
    searcher->SearchForAUser(*users);
  }
  cursor.Restore();

  if (users->GetUserCount() == 1) {
    WriteBack(record, options, *users, *users->GetFirstUser());
    if (cached) users->CacheFirstUser();
    ReportResolved(options, *users, *users->GetFirstUser(), from_cache);
  } else if (users->GetUserCount() > 1) {
    UserObj* chosen = ChooseUser(*users);
    if (chosen != nullptr) {
      WriteBack(record, options, *users, *chosen);
      if (cached) users->CacheChosenUser(*chosen);
      ReportResolved(options, *users, *chosen, from_cache);
    }
  }
  MarkCallingModule(record);
  NotifyHost(host);
}

// Path S: the search, for events 102 and 1296 and at the end of prelogin.
void SearchPath(void* host, uint32_t event, void* record) {
  WaitForWorkerToEnd(kLocalLoginWaitMs);
  if (LocalLoginSet()) return;

  std::unique_ptr<LDAPConfigOptions> options;
  try {
    options.reset(new LDAPConfigOptions());
  } catch (const LDAPConfigOptions::BadReg&) {
    return;
  }
  char tree_buffer[kTreeBufferSize] = {};

  if (options->ContextlessLoginEnabled() && !options->TreelessLoginEnabled()) {
    TrimHostText(record, kStartInfoUser);
    TrimHostText(record, kStartInfoTree);
    std::string typed_tree = ReadHostText(record, kStartInfoTree);
    std::string discovery_name = typed_tree;
    bool passed = false;
    if (GetTree(discovery_name, tree_buffer, sizeof tree_buffer,
                kTreeDiscoveryTimeoutSeconds) == 0) {
      try {
        LDAPTree tree(tree_buffer);
        passed = true;
      } catch (const LDAPTree::BadReg&) {
      }
    } else {
      std::memset(tree_buffer, 0, sizeof tree_buffer);
    }
    if (!passed) {
      try {
        LDAPTree tree(typed_tree);
      } catch (const LDAPTree::BadReg&) {
        return;  // neither the discovered nor the typed tree is configured
      }
    }
  }

  WaitCursor cursor;
  try {
    ResolveAndWriteBack(host, event, record, *options, tree_buffer, cursor);
  } catch (const std::string& text) {
    cursor.Restore();
    platform::ShowMessageBox(text, platform::kMbIconHand);
  } catch (const LDAPSearchUser::SearchCancelled&) {
    cursor.Restore();
  } catch (const LDAPConfigOptions::BadReg&) {
    cursor.Restore();
  }
}

// Path T: tab data.
void TabDataPath(void* host, uint32_t event, void* record) {
  if (ReadHostText(record, kStartInfoUser).empty()) return;
  const void* node = FindTaggedNode(record, kTagTabData);
  if (node != nullptr) {
    const void* tab_data = LoadNodeData(node);
    if (tab_data != nullptr && LoadU32(tab_data, kTabDataRunEap) == 1) return;
  }
  SearchPath(host, event, record);
}

// Path P: prelogin. Returns true when the cached result was confirmed and
// nothing else is to be done; false to go on with path T.
bool PreloginPath(void* host, void* record) {
  try {
    LDAPConfigOptions options;
    if (!options.UseCachedResults()) return true;
    std::string name =
        TrimWhiteSpace(TypedNameAsUtf8(ReadHostText(record, kStartInfoUser)));
    TrimHostText(record, kStartInfoTree);
    std::string host_tree = ReadHostText(record, kStartInfoTree);
    std::string discovery_name = host_tree;
    char tree_buffer[kTreeBufferSize] = {};
    bool discovered = GetTree(discovery_name, tree_buffer, sizeof tree_buffer,
                              kTreeDiscoveryTimeoutSeconds) == 0;
    UserData users(name, discovered ? std::string(tree_buffer) : host_tree);

    platform::Module host_module = platform::Module::FindLoaded(HostModuleName());
    auto initial_conn =
        reinterpret_cast<QZLGGetInitialConnFn>(host_module.Symbol(kHostInitialConnExport));
    if (initial_conn != nullptr) initial_conn(host);

    if (users.ValidateCachedUser()) return true;
  } catch (const LDAPConfigOptions::BadReg&) {
    // The cache check cannot run: the tab-data checks and the search decide.
  }
  return false;
}

void Terminate() {
  ReleaseLanguageResources();
  ClosePing();
  platform::ThreadHandle thread = StopWorker(TerminateWorkerStopTimeoutMs());
  // Parallel probes still running (a stopped worker's, or ones stuck in a
  // connect) end by their own time-outs; they may still be using the TLS
  // client, so it is shut down only after them. None without the option.
  if (!WaitForProbesToEnd(kProbeShutdownWaitMs)) {
    platform::Trace("probes still running at terminate\n");
  }
  // After the worker, which may still have been reporting to it: the next
  // start of the extension begins with no server remembered. A worker still
  // running (natively it cannot be ended) reports under the generation this
  // clear ends, and is not heard.
  UnreachableServers::Instance().Clear();
  WorkerState& state = GetWorkerState();
  if (state.tls_initialized.load() != 0) platform::LdapSslClientDeinit();
  state.tls_initialized.store(0);
  if (thread != nullptr) platform::CloseThreadHandle(thread);
  CloseWorkerHandle();
}

void Start(void* host, void* record) {
  LoadLanguageResources();
  s_pStartInfo = record;
  const void* node = FindTaggedNode(record, kTagStartUI);
  s_pStartUIInfo = node != nullptr ? LoadNodeData(node) : nullptr;
  if (s_pStartUIInfo == nullptr || record == nullptr) return;
  if (static_cast<const unsigned char*>(s_pStartUIInfo)[kStartUIByte] != kStartUIPrelogin) return;
  if (!EqualsIgnoringAsciiCase(LoadProviderName(record), kZelnetProvider)) return;
  if (LoadCallingModule(record) != kCallingModuleUnset) return;
  if (!PreloginPath(host, record)) TabDataPath(host, kEventStart, record);
}

void Dispatch(void* host, uint32_t event) {
  switch (event) {
    case kEventTerminate:
      Terminate();
      return;
    case kEventPrelogin:
      if (s_pStartInfo != nullptr && !PreloginPath(host, s_pStartInfo)) {
        TabDataPath(host, event, s_pStartInfo);
      }
      return;
    case kEventTabData:
      if (s_pStartInfo != nullptr) TabDataPath(host, event, s_pStartInfo);
      return;
    case kEventSearch:
      if (s_pStartInfo != nullptr) SearchPath(host, event, s_pStartInfo);
      return;
    default:
      return;
  }
}

}  // namespace

std::string ReadHostText(const void* record, StartInfoTextField field) {
  if (record == nullptr) return std::string();
  HostText host = LoadText(record, field);
  if (host.buffer == nullptr || host.size <= 0) return std::string();
  const char* begin = host.buffer;
  const char* end = static_cast<const char*>(std::memchr(begin, 0, host.size));
  return std::string(begin, end != nullptr ? end : begin + host.size);
}

void WriteHostText(void* record, StartInfoTextField field, const std::string& text) {
  HostText host = LoadText(record, field);
  if (host.buffer == nullptr || host.size <= 0) return;
  size_t size = static_cast<size_t>(host.size);
  size_t copied = FitAnsi(text, size - 1);
  std::memcpy(host.buffer, text.data(), copied);
  std::memset(host.buffer + copied, 0, size - copied);
}

void* StartInfoRecord() { return s_pStartInfo; }
void* StartUIRecord() { return s_pStartUIInfo; }

void ResetLoginDriverForTesting() {
  s_pStartInfo = nullptr;
  s_pStartUIInfo = nullptr;
  g_terminate_held.store(0);
}

int32_t LoginExtCallback(void* host, uint32_t event, uint32_t a, uint32_t b, void* record,
                         uintptr_t c, uint32_t d) {
  AFX_MANAGE_STATE(AfxGetStaticModuleState());
  EventNesting nesting;
  int32_t result = 0;
  // The host is not C++: nothing thrown may cross back into it.
  try {
    if (!nesting.outermost()) {
      if (event == kEventTerminate) g_terminate_held.store(1);
      platform::Trace("event %u while another is handled: %s\n", event,
                      event == kEventTerminate ? "held until it ends" : "only passed on");
    } else if (event == kEventStart) {
      Start(host, record);
    } else {
      Dispatch(host, event);
    }
  } catch (...) {
    platform::Trace("event %u: unexpected failure\n", event);
  }
  try {
    HostEventHandler chained = ChainedHandler();
    if (chained != nullptr) result = chained(host, event, a, b, record, c, d);
  } catch (...) {
    platform::Trace("event %u: the chained handler failed\n", event);
  }
  // Still counted as in progress, so an event sent meanwhile is held too.
  while (nesting.outermost() && g_terminate_held.exchange(0) != 0) {
    try {
      Terminate();
    } catch (...) {
      platform::Trace("held terminate: unexpected failure\n");
    }
  }
  return result;
}

}  // namespace wendrel
