// The login host module stand-in (LGQZNT32.DLL / libLGQZNT32.so): the least
// a login host must be for an extension's handshake, events and calls back,
// honouring exactly the layouts of core/login_host.h. It keeps what it
// observes for qzlogin (host/host_stand_in.h).

#include <cstring>

#include "core/login_host.h"
#include "host/host_stand_in.h"

#ifdef _WIN32
// Windows exports are listed in LGQZNT32.def, so the names stay undecorated.
#define WENDREL_HOST_EXPORT
#else
#define WENDREL_HOST_EXPORT __attribute__((visibility("default")))
#endif

namespace {

using wendrel::LoginExtVersion;

// The table handed out by QZLoginExtInit and the table the host handle points
// to. Pointer-aligned arrays, written only through the contract's accessors.
void* g_service_table[wendrel::kHostServiceTableSize / sizeof(void*)];
void* g_handle_table[wendrel::kHostHandleEntries];

int32_t g_chain_result = 0;
WendrelHostObserved g_observed;

static_assert(sizeof(g_service_table) == wendrel::kHostServiceTableSize,
              "the service table is 48 bytes");

int32_t OwnEventHandler(void* host, uint32_t event, uint32_t a, uint32_t b, void* record,
                        uintptr_t c, uint32_t d) {
  ++g_observed.own_handler_calls;
  return g_chain_result;
}

int32_t Notify(void* host, uint32_t code, uint32_t a, uint32_t b, uintptr_t d) {
  if (g_observed.notification_count < WENDREL_HOST_MAX_NOTIFICATIONS) {
    g_observed.notifications[g_observed.notification_count] = code;
  }
  ++g_observed.notification_count;
  return 0;
}

// The tables are filled before anything can call the module: at load.
struct TableSetUp {
  TableSetUp() {
    std::memset(g_service_table, 0, sizeof g_service_table);
    std::memset(g_handle_table, 0, sizeof g_handle_table);
    wendrel::StoreEventHandler(g_service_table, OwnEventHandler);
    wendrel::StoreEntry<wendrel::HostNotifyFn>(g_handle_table, wendrel::kHostHandleNotifyEntry,
                                               Notify);
  }
} g_table_set_up;

}  // namespace

extern "C" {

// The handshake: hands out the service table to an extension that speaks
// version 5; anything else is refused with 1 and the table pointer untouched.
WENDREL_HOST_EXPORT int32_t QZLoginExtInit(void** table, const LoginExtVersion* version,
                                           uintptr_t* out_value, uintptr_t reserved1,
                                           uintptr_t reserved2) {
  int32_t result = 1;
  if (table != nullptr && version != nullptr &&
      wendrel::LoginExtVersionNumber(*version) == wendrel::kLoginExtVersionNumber &&
      version->bytes[2] == 0 && version->bytes[3] == 0) {
    *table = g_service_table;
    // The second out-value: this host hands out its handle there.
    if (out_value != nullptr) *out_value = reinterpret_cast<uintptr_t>(g_handle_table);
    result = 0;
  }
  g_observed.handshake_called = 1;
  g_observed.handshake_result = result;
  return result;
}

WENDREL_HOST_EXPORT int32_t _QZLGGetInitialConn(void* host) {
  ++g_observed.initial_conn_calls;
  return 0;
}

WENDREL_HOST_EXPORT void WendrelHostConfigure(int32_t chain, int32_t chain_result) {
  std::memset(&g_observed, 0, sizeof g_observed);
  g_chain_result = chain_result;
  wendrel::StoreEventHandler(g_service_table, chain != 0 ? OwnEventHandler : nullptr);
}

WENDREL_HOST_EXPORT void* WendrelHostServiceTable(void) { return g_service_table; }

WENDREL_HOST_EXPORT void* WendrelHostHandle(void) { return g_handle_table; }

WENDREL_HOST_EXPORT void WendrelHostObserve(WendrelHostObserved* out) {
  if (out != nullptr) *out = g_observed;
}

}  // extern "C"
