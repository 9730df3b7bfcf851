// What the host module (LGQZNT32) shares with qzlogin, the program that plays
// the login prompt around it. Besides the login host's own exports the module
// exports these few C functions for qzlogin alone: qzlogin sets how the host's
// own event handler behaves before the extension is loaded, and reads back
// afterwards what the host observed (the handshake, its handler's calls, the
// notifications and the _QZLGGetInitialConn calls).

#ifndef WENDREL_HOST_HOST_STAND_IN_H_
#define WENDREL_HOST_HOST_STAND_IN_H_

#include <cstdint>

extern "C" {

// The notifications kept in order; later ones are only counted.
#define WENDREL_HOST_MAX_NOTIFICATIONS 256

struct WendrelHostObserved {
  int32_t handshake_called;  // QZLoginExtInit has been called
  int32_t handshake_result;  // what the last call returned
  uint32_t own_handler_calls;  // calls of the host's own event handler
  uint32_t initial_conn_calls;  // calls of _QZLGGetInitialConn
  uint32_t notification_count;  // all notifications, kept or not
  uint32_t notifications[WENDREL_HOST_MAX_NOTIFICATIONS];
};

// Puts the host's own handler into entry 2 of its service table when `chain`
// is non-zero (the handler then returns `chain_result`), a null entry
// otherwise, and forgets everything observed so far. Called before the
// extension is loaded.
typedef void (*WendrelHostConfigureFn)(int32_t chain, int32_t chain_result);
// The host's 48-byte service table, as the extension left it.
typedef void* (*WendrelHostServiceTableFn)(void);
// The host handle: the first argument of every event.
typedef void* (*WendrelHostHandleFn)(void);
// Copies what the host observed so far.
typedef void (*WendrelHostObserveFn)(WendrelHostObserved* out);

}  // extern "C"

namespace wendrel {
namespace host {

constexpr const char kConfigureExport[] = "WendrelHostConfigure";
constexpr const char kServiceTableExport[] = "WendrelHostServiceTable";
constexpr const char kHandleExport[] = "WendrelHostHandle";
constexpr const char kObserveExport[] = "WendrelHostObserve";

}  // namespace host
}  // namespace wendrel

#endif  // WENDREL_HOST_HOST_STAND_IN_H_
