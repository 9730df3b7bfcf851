// Login host modules that do not complete the handshake, for the tests of
// the extension's start-up: built once without QZLoginExtInit and once with
// one that refuses every extension (WENDREL_HOST_REFUSES). Each is named as
// the host module is, in a folder of its own, and counts its handshake
// calls.

#include <cstdint>

#ifdef _WIN32
#define WENDREL_VARIANT_EXPORT __declspec(dllexport)
#else
#define WENDREL_VARIANT_EXPORT __attribute__((visibility("default")))
#endif

namespace {
int32_t g_handshake_calls = 0;
}  // namespace

extern "C" {

#ifdef WENDREL_HOST_REFUSES
WENDREL_VARIANT_EXPORT int32_t QZLoginExtInit(void** table, const void* version,
                                              uintptr_t* out_value, uintptr_t reserved1,
                                              uintptr_t reserved2) {
  ++g_handshake_calls;
  return 1;  // refused: no table handed out
}
#endif

WENDREL_VARIANT_EXPORT int32_t WendrelHostVariantHandshakeCalls() { return g_handshake_calls; }

}  // extern "C"
