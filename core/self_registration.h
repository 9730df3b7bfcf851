// Self-registration: what the library's two exports, DllRegisterServer and
// DllUnregisterServer, do. Both load the registration script (resource
// "REGISTRY" 9002) from the library's own file and run it through the
// extension's registrar (core/registrar.h).

#ifndef WENDREL_CORE_SELF_REGISTRATION_H_
#define WENDREL_CORE_SELF_REGISTRATION_H_

#include <cstdint>
#include <string>

#include "core/registrar_script.h"
#include "platform/resources.h"

namespace wendrel {

// Where the script lives among the library's resources.
constexpr char kRegistrationScriptType[] = "REGISTRY";
constexpr uint32_t kRegistrationScriptId = 9002;

// The module instance handle, saved at start-up by the application object's
// InitInstance; until then (and in programs without one) the module this code
// is part of.
void SaveModuleInstance(platform::ResourceModule module);
platform::ResourceModule ModuleInstance();

// Loads and parses the script from the file of `module`. On failure returns
// the status the exports report (the Win32 error of the resource lookup in
// the Win32 facility, or kRegistrarScriptError) and, when `error` is given,
// the reason.
int32_t LoadRegistrationScript(platform::ResourceModule module, RegistrationScript* script,
                               std::string* error);

// DllRegisterServer: kSOk, or the failure status with the partial
// registration undone.
int32_t RegisterServer();

// DllUnregisterServer: kSOk whatever the removal met, a script that cannot
// be loaded or parsed included (nothing is removed then).
int32_t UnregisterServer();

}  // namespace wendrel

#endif  // WENDREL_CORE_SELF_REGISTRATION_H_
