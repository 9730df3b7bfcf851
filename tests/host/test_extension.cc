// A small login extension for qzlogin's end-to-end tests, so the host
// stand-in can be checked on its own. At load it performs the handshake with
// the host module (linked to it, so the module must already be there); on
// event 1296 it writes the typed name upper-cased into `user` and a fixed
// context into `context`, marks callingModule and notifies 100; every event
// is then passed on to the handler it replaced.
//
// Typed names that drive it: "ask" puts the continue question first (and
// writes only on Yes), "fail" shows a stop box and writes nothing.

#include <cstdint>
#include <cstring>
#include <string>

#include "core/login_host.h"
#include "platform/ui.h"

extern "C" {
int32_t QZLoginExtInit(void** table, const wendrel::LoginExtVersion* version,
                       uintptr_t* out_value, uintptr_t reserved1, uintptr_t reserved2);
int32_t _QZLGGetInitialConn(void* host);
}

namespace {

using namespace wendrel;

// In the ANSI code page (Windows-1252): "sales.Äcme".
constexpr char kContext[] = "sales.\xC4" "cme";

unsigned char g_kept_table[kHostServiceTableSize];
void* g_record = nullptr;

// Copies at most the buffer's size and zero-fills the rest: a text as long
// as the buffer fills it without a terminator.
void WriteText(void* record, StartInfoTextField field, const std::string& text) {
  HostText t = LoadText(record, field);
  if (t.buffer == nullptr || t.size <= 0) return;
  size_t size = static_cast<size_t>(t.size);
  size_t n = text.size() < size ? text.size() : size;
  std::memcpy(t.buffer, text.data(), n);
  std::memset(t.buffer + n, 0, size - n);
}

std::string ReadText(const void* record, StartInfoTextField field) {
  HostText t = LoadText(record, field);
  if (t.buffer == nullptr || t.size <= 0) return "";
  size_t n = 0;
  while (n < static_cast<size_t>(t.size) && t.buffer[n] != '\0') ++n;
  return std::string(t.buffer, n);
}

bool RunEapSet(const void* record) {
  const void* node = FindTaggedNode(record, kTagTabData);
  if (node == nullptr) return false;
  const void* data = LoadNodeData(node);
  return data != nullptr && LoadU32(data, kTabDataRunEap) == 1;
}

void Resolve(void* host, void* record) {
  std::string user = ReadText(record, kStartInfoUser);
  if (user.empty() || RunEapSet(record)) return;
  if (user == "fail") {
    platform::ShowMessageBox("No user was found.", platform::kMbIconHand);
    return;
  }
  if (user == "ask" &&
      platform::ShowMessageBox("Search the other trees?", platform::kMbYesNo) != platform::kIdYes) {
    return;
  }
  for (char& c : user) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  WriteText(record, kStartInfoUser, user);
  WriteText(record, kStartInfoContext, kContext);
  const char* provider = LoadProviderName(record);
  if ((provider != nullptr && std::strcmp(provider, kZelnetProvider) == 0) ||
      LoadCallingModule(record) == kCallingModuleUnset) {
    StoreCallingModule(record, kCallingModuleMark);
  }
  if (HostNotifyFn notify = LoadNotify(host)) notify(host, kNotifyResolved, 0, 0, 0);
}

int32_t Callback(void* host, uint32_t event, uint32_t a, uint32_t b, void* record, uintptr_t c,
                 uint32_t d) {
  if (event == kEventStart) g_record = record;
  if (event == kEventPrelogin) _QZLGGetInitialConn(host);
  if (event == kEventTabData && g_record != nullptr) Resolve(host, record);
  HostEventHandler chained = LoadEventHandler(g_kept_table);
  return chained != nullptr ? chained(host, event, a, b, record, c, d) : 0;
}

struct Handshake {
  Handshake() {
    void* table = nullptr;
    uintptr_t ignored = 0;
    LoginExtVersion version = MakeLoginExtVersion();
    if (QZLoginExtInit(&table, &version, &ignored, 0, 0) == 0 && table != nullptr) {
      std::memcpy(g_kept_table, table, sizeof g_kept_table);
      StoreEventHandler(table, Callback);
    }
  }
} g_handshake;

}  // namespace
