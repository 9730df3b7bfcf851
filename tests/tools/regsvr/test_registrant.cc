// A stand-in for the extension library until it exists: a loadable module
// whose two exports are exactly what the library's will be.

#include <cstdint>

#include "core/self_registration.h"

#ifdef _WIN32
#define WENDREL_EXPORT __declspec(dllexport)
#else
#define WENDREL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" WENDREL_EXPORT int32_t DllRegisterServer() { return wendrel::RegisterServer(); }

extern "C" WENDREL_EXPORT int32_t DllUnregisterServer() { return wendrel::UnregisterServer(); }
