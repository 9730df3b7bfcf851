// What the registry backends call to count the port's calls (RegistryCalls
// in platform/registry.h). Only the backends include this.

#ifndef WENDREL_PLATFORM_REGISTRY_CALL_COUNTER_H_
#define WENDREL_PLATFORM_REGISTRY_CALL_COUNTER_H_

namespace wendrel {
namespace platform {

enum class RegistryCall { kOpen, kQuery, kWrite, kClose };

// Thread-safe and lock-free: a relaxed atomic increment.
void CountRegistryCall(RegistryCall call);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_REGISTRY_CALL_COUNTER_H_
