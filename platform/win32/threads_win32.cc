// Threads port, Win32 backend.

#include <windows.h>

#include <atomic>
#include <memory>

#include "platform/threads.h"

namespace wendrel {
namespace platform {
namespace {

std::atomic<size_t> g_outstanding{0};

struct StartBlock {
  ThreadProc proc;
  void* parameter;
};

DWORD WINAPI ThreadMain(LPVOID arg) {
  // Taken over and freed at once. A thread terminated before it ever ran
  // leaves this small block behind, which TerminateThread cannot avoid.
  std::unique_ptr<StartBlock> start(static_cast<StartBlock*>(arg));
  return start->proc(start->parameter);
}

struct DetachedStartBlock {
  ThreadProc proc;
  void* parameter;
  HMODULE module;  // the reference the thread drops as it ends
};

DWORD WINAPI DetachedThreadMain(LPVOID arg) {
  DetachedStartBlock start = *static_cast<DetachedStartBlock*>(arg);
  delete static_cast<DetachedStartBlock*>(arg);
  DWORD code = start.proc(start.parameter);
  // Returning would run code of a module this call may just have unloaded;
  // FreeLibraryAndExitThread drops the reference and ends the thread in
  // kernel32, outside it.
  if (start.module != nullptr) FreeLibraryAndExitThread(start.module, code);
  return code;
}

}  // namespace

bool StartDetachedThread(ThreadProc proc, void* parameter) {
  if (proc == nullptr) return false;
  HMODULE module = nullptr;
  // A counted reference to the module holding proc (no UNCHANGED_REFCOUNT).
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(proc), &module);
  auto start = std::make_unique<DetachedStartBlock>(DetachedStartBlock{proc, parameter, module});
  HANDLE thread = ::CreateThread(nullptr, 0, DetachedThreadMain, start.get(), 0, nullptr);
  if (thread == nullptr) {
    if (module != nullptr) FreeLibrary(module);
    return false;
  }
  start.release();
  CloseHandle(thread);
  return true;
}

ThreadHandle CreateThread(ThreadProc proc, void* parameter, uint32_t* thread_id) {
  if (proc == nullptr) return nullptr;
  auto start = std::make_unique<StartBlock>(StartBlock{proc, parameter});
  DWORD id = 0;
  HANDLE thread = ::CreateThread(nullptr, 0, ThreadMain, start.get(), 0, &id);
  if (thread == nullptr) return nullptr;
  start.release();
  g_outstanding.fetch_add(1);
  if (thread_id != nullptr) *thread_id = id;
  return thread;
}

uint32_t WaitForThread(ThreadHandle thread, uint32_t timeout_ms) {
  if (thread == nullptr) return kWaitFailed;
  return WaitForSingleObject(static_cast<HANDLE>(thread), timeout_ms);
}

bool TerminateThread(ThreadHandle thread, uint32_t exit_code) {
  if (thread == nullptr) return false;
  return ::TerminateThread(static_cast<HANDLE>(thread), exit_code) != 0;
}

void CloseThreadHandle(ThreadHandle thread) {
  if (thread == nullptr) return;
  CloseHandle(static_cast<HANDLE>(thread));
  g_outstanding.fetch_sub(1);
}

// The kernel handle stays open: the system releases it with the process.
void ForgetThreadHandle(ThreadHandle thread) {
  if (thread != nullptr) g_outstanding.fetch_sub(1);
}

size_t OutstandingThreadHandles() { return g_outstanding.load(); }

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

uint32_t TickCount() { return GetTickCount(); }

}  // namespace platform
}  // namespace wendrel
