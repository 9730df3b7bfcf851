#include "core/self_registration.h"

#include <atomic>
#include <vector>

#include "core/registrar.h"
#include "platform/trace.h"

namespace wendrel {
namespace {

std::atomic<platform::ResourceModule> g_module_instance{nullptr};

}  // namespace

void SaveModuleInstance(platform::ResourceModule module) { g_module_instance.store(module); }

platform::ResourceModule ModuleInstance() {
  const platform::ResourceModule saved = g_module_instance.load();
  return saved != nullptr ? saved : platform::OwnModule();
}

int32_t LoadRegistrationScript(platform::ResourceModule module, RegistrationScript* script,
                               std::string* error) {
  std::vector<uint8_t> bytes;
  const int32_t status = platform::LoadCustomResource(module, kRegistrationScriptType,
                                                      kRegistrationScriptId, &bytes);
  if (status != 0) {
    if (error != nullptr) {
      *error = "the registration script (REGISTRY 9002) cannot be loaded: error " +
               std::to_string(status);
    }
    return HresultFromWin32(status);
  }
  std::string reason;
  if (!ParseRegistrationScript(std::string(bytes.begin(), bytes.end()), script, &reason)) {
    if (error != nullptr) *error = "the registration script is malformed: " + reason;
    return kRegistrarScriptError;
  }
  return kSOk;
}

int32_t RegisterServer() {
  RegistrationScript script;
  std::string error;
  int32_t status = LoadRegistrationScript(ModuleInstance(), &script, &error);
  if (status == kSOk) status = RegisterScript(script);
  if (status != kSOk) {
    platform::Trace("DllRegisterServer failed (0x%08X) %s\n", static_cast<unsigned>(status),
                    error.c_str());
  }
  return status;
}

int32_t UnregisterServer() {
  RegistrationScript script;
  std::string error;
  const int32_t status = LoadRegistrationScript(ModuleInstance(), &script, &error);
  if (status == kSOk) {
    UnregisterScript(script);
  } else {
    // Nothing could be removed; the caller (an uninstaller, regsvr32 /u) is
    // still told success, as for any other removal that met a failure: there
    // is nothing it could do about it.
    platform::Trace("DllUnregisterServer removed nothing (0x%08X) %s\n",
                    static_cast<unsigned>(status), error.c_str());
  }
  return kSOk;
}

}  // namespace wendrel
