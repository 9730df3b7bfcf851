// The parts of RegKey that do not depend on the backend: ownership moves
// with the object, and the key is closed (by the backend's Close) when its
// owner goes.

#include "platform/registry.h"

#include <atomic>

#include "platform/registry_call_counter.h"

namespace wendrel {
namespace platform {
namespace {

std::atomic<uint64_t> g_opens{0};
std::atomic<uint64_t> g_queries{0};
std::atomic<uint64_t> g_writes{0};
std::atomic<uint64_t> g_closes{0};

std::atomic<uint64_t>& CounterOf(RegistryCall call) {
  switch (call) {
    case RegistryCall::kOpen: return g_opens;
    case RegistryCall::kQuery: return g_queries;
    case RegistryCall::kWrite: return g_writes;
    case RegistryCall::kClose: break;
  }
  return g_closes;
}

}  // namespace

void CountRegistryCall(RegistryCall call) {
  CounterOf(call).fetch_add(1, std::memory_order_relaxed);
}

RegistryCallCounts RegistryCalls() {
  RegistryCallCounts counts;
  counts.opens = g_opens.load(std::memory_order_relaxed);
  counts.queries = g_queries.load(std::memory_order_relaxed);
  counts.writes = g_writes.load(std::memory_order_relaxed);
  counts.closes = g_closes.load(std::memory_order_relaxed);
  return counts;
}

RegKey::~RegKey() { Close(); }

RegKey::RegKey(RegKey&& other) noexcept
    : handle_(other.handle_), predefined_(other.predefined_) {
  other.handle_ = nullptr;
  other.predefined_ = false;
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    predefined_ = other.predefined_;
    other.handle_ = nullptr;
    other.predefined_ = false;
  }
  return *this;
}

}  // namespace platform
}  // namespace wendrel
