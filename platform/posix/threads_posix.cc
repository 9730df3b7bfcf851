// Threads port, pthreads backend. See platform/threads.h for how a thread
// that outlives its wait is abandoned.

#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/threads.h"

namespace wendrel {
namespace platform {
namespace {

// What the thread and its handle share. The thread holds a reference until
// its last act, so the block outlives a handle closed while it runs.
struct SharedBlock {
  ThreadProc proc = nullptr;
  void* parameter = nullptr;
  std::mutex mutex;
  std::condition_variable ended_cv;
  bool ended = false;
};

std::atomic<size_t> g_outstanding{0};

struct PosixThread {
  std::shared_ptr<SharedBlock> shared;
  pthread_t thread{};
  bool released = false;  // joined or detached: the pthread is no longer ours
};

void* ThreadMain(void* arg) {
  std::unique_ptr<std::shared_ptr<SharedBlock>> own(
      static_cast<std::shared_ptr<SharedBlock>*>(arg));
  SharedBlock& shared = **own;
  shared.proc(shared.parameter);
  {
    std::lock_guard<std::mutex> lock(shared.mutex);
    shared.ended = true;
  }
  shared.ended_cv.notify_all();
  return nullptr;
}

// Keeps the shared object holding `code` mapped for the rest of the process:
// a second reference with RTLD_NODELETE makes any later dlclose leave it in
// place.
void PinModuleOf(const void* code) {
  Dl_info info{};
  if (dladdr(code, &info) == 0 || info.dli_fname == nullptr) return;
  // The extra reference is deliberately kept: it is what pins the module.
  void* module = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  (void)module;
}

}  // namespace

ThreadHandle CreateThread(ThreadProc proc, void* parameter, uint32_t* thread_id) {
  if (proc == nullptr) return nullptr;
  auto handle = std::make_unique<PosixThread>();
  handle->shared = std::make_shared<SharedBlock>();
  handle->shared->proc = proc;
  handle->shared->parameter = parameter;
  auto arg = std::make_unique<std::shared_ptr<SharedBlock>>(handle->shared);
  if (pthread_create(&handle->thread, nullptr, ThreadMain, arg.get()) != 0) return nullptr;
  arg.release();  // the thread owns it now
  g_outstanding.fetch_add(1);
  if (thread_id != nullptr) {
    // The kernel id is only known inside the thread; an id from the handle's
    // address is unique among live handles and stable, which is what callers
    // compare and trace.
    *thread_id = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle.get()) >> 4);
  }
  return handle.release();
}

uint32_t WaitForThread(ThreadHandle thread, uint32_t timeout_ms) {
  if (thread == nullptr) return kWaitFailed;
  auto* handle = static_cast<PosixThread*>(thread);
  SharedBlock& shared = *handle->shared;
  {
    std::unique_lock<std::mutex> lock(shared.mutex);
    if (!shared.ended_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                  [&shared] { return shared.ended; })) {
      return kWaitTimeout;
    }
  }
  // The procedure has returned; the join only collects the thread's last
  // instructions, so it does not block for long.
  if (!handle->released) {
    pthread_join(handle->thread, nullptr);
    handle->released = true;
  }
  return kWaitObject0;
}

bool TerminateThread(ThreadHandle thread, uint32_t exit_code) {
  if (thread == nullptr) return false;
  auto* handle = static_cast<PosixThread*>(thread);
  PinModuleOf(reinterpret_cast<const void*>(handle->shared->proc));
  if (!handle->released) {
    pthread_detach(handle->thread);
    handle->released = true;
  }
  return false;
}

void CloseThreadHandle(ThreadHandle thread) {
  if (thread == nullptr) return;
  auto* handle = static_cast<PosixThread*>(thread);
  if (!handle->released) pthread_detach(handle->thread);
  delete handle;
  g_outstanding.fetch_sub(1);
}

// A pthread that is neither joined nor detached keeps its stack and its
// handle for the rest of the process: detaching it is the only reaping left.
void ForgetThreadHandle(ThreadHandle thread) { CloseThreadHandle(thread); }

size_t OutstandingThreadHandles() { return g_outstanding.load(); }

bool StartDetachedThread(ThreadProc proc, void* parameter) {
  if (proc == nullptr) return false;
  PinModuleOf(reinterpret_cast<const void*>(proc));
  ThreadHandle thread = CreateThread(proc, parameter, nullptr);
  if (thread == nullptr) return false;
  CloseThreadHandle(thread);  // detaches it
  return true;
}

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

void Sleep(uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

}  // namespace platform
}  // namespace wendrel
