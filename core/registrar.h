// The extension's registrar: runs a registration script (core/registrar_script.h)
// against HKEY_LOCAL_MACHINE, in registration or in removal mode, the way the
// platform template library's registrar runs a script without markers.

#ifndef WENDREL_CORE_REGISTRAR_H_
#define WENDREL_CORE_REGISTRAR_H_

#include <cstdint>

#include "core/registrar_script.h"

namespace wendrel {

// 32-bit statuses (HRESULT) as the two exports return them.
constexpr int32_t kSOk = 0;
// DISP_E_EXCEPTION: what the template library's registrar returns for a
// script it cannot parse.
constexpr int32_t kRegistrarScriptError = static_cast<int32_t>(0x80020009u);

// HRESULT_FROM_WIN32: a Win32 error as a status of the Win32 facility
// (0x8007xxxx); 0 stays 0.
constexpr int32_t HresultFromWin32(int32_t error) {
  return error <= 0 ? error
                    : static_cast<int32_t>((static_cast<uint32_t>(error) & 0xFFFFu) | 0x80070000u);
}

// Registration: each key, from the outermost inward, is opened for reading
// and writing, else for reading, else created (non-volatile, read and write
// access); then its values are set. The first failure stops the walk; the
// removal below then undoes what was done, and the failure comes back as a
// status of the Win32 facility. kSOk on success.
int32_t RegisterScript(const RegistrationScript& script);

// Removal: walks the script's keys (a missing key ends the walk below it),
// deletes the values the script names (missing ones are no error), then,
// from the innermost key outward, deletes each key that has no subkeys left,
// with whatever values it still holds. HKEY_LOCAL_MACHINE itself is never
// deleted. Whatever it meets, removal succeeds.
void UnregisterScript(const RegistrationScript& script);

}  // namespace wendrel

#endif  // WENDREL_CORE_REGISTRAR_H_
