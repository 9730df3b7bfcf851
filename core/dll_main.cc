// The extension library's load and unload hooks and its two exports. Only
// the shared library `wendrel` is built from this file: programs and tests
// that link the extension's code statically get no application object and
// so never talk to a login host by accident.
//
// Load: static initialisation constructs the application object, whose
// constructor performs the handshake with the login host; then InitInstance
// runs (from DllMain on Windows, from the load hook below natively). Unload:
// ExitInstance, then the object's destruction; natively the library is never
// unmapped (see core/CMakeLists.txt), so these run when the process exits.

#include <cstdint>

#include "core/self_registration.h"
#include "core/wendrel_app.h"
#include "platform/framework/app.h"

namespace wendrel {
namespace {

CWendrelApp the_app;

#ifndef _WIN32
// Constructed after the_app and destroyed before it (same file, declared
// later), which gives the order DllMain gives on Windows.
struct LoadHooks {
  LoadHooks() { the_app.InitInstance(); }
  ~LoadHooks() { the_app.ExitInstance(); }
};
LoadHooks load_hooks;
#endif

}  // namespace
}  // namespace wendrel

#ifdef _WIN32
// Declared by hand with the same types as windows.h gives it (HINSTANCE,
// DWORD, LPVOID; BOOL result), so this file needs no system header.
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void* reserved) {
  constexpr unsigned long kProcessDetach = 0;
  constexpr unsigned long kProcessAttach = 1;
  if (reason == kProcessAttach) return wendrel::the_app.InitInstance() != 0 ? 1 : 0;
  if (reason == kProcessDetach) wendrel::the_app.ExitInstance();
  return 1;
}
#define WENDREL_EXPORT
#else
#define WENDREL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" WENDREL_EXPORT int32_t DllRegisterServer() {
  AFX_MANAGE_STATE(wendrel::AfxGetStaticModuleState());
  return wendrel::RegisterServer();
}

extern "C" WENDREL_EXPORT int32_t DllUnregisterServer() {
  AFX_MANAGE_STATE(wendrel::AfxGetStaticModuleState());
  return wendrel::UnregisterServer();
}
