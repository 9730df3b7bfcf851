// Threads port: start a thread on a procedure, wait for it with a time-out,
// end it forcibly, and the thread id, sleep and tick count that traces and
// waits use. On Windows CreateThread, WaitForSingleObject and TerminateThread;
// natively pthreads.
//
// Forced termination natively: POSIX has no safe way to end another thread,
// so a thread that is "terminated" is detached and abandoned instead. It keeps
// running until its procedure returns, and everything it needs stays valid:
// the thread owns the block it shares with its handle (so closing the handle
// frees nothing the thread still uses), and the library that holds the
// thread's procedure is pinned in memory (it is never unmapped, even when the
// process unloads it), so an abandoned worker never runs into unmapped code.

#ifndef WENDREL_PLATFORM_THREADS_H_
#define WENDREL_PLATFORM_THREADS_H_

#include <cstddef>
#include <cstdint>

namespace wendrel {
namespace platform {

// A thread's procedure; its result is the thread's exit code.
using ThreadProc = uint32_t (*)(void* parameter);

// An opaque thread handle, null when none. Closed with CloseThreadHandle.
using ThreadHandle = void*;

// WaitForThread results (the Win32 wait codes).
constexpr uint32_t kWaitObject0 = 0;
constexpr uint32_t kWaitTimeout = 258;
constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

// Starts a thread running proc(parameter) at once, with default security and
// stack size. Returns its handle and stores its id in *thread_id (when
// given), or returns null when no thread could be created.
ThreadHandle CreateThread(ThreadProc proc, void* parameter, uint32_t* thread_id);

// Waits at most timeout_ms for the thread to end: kWaitObject0 when it has
// ended, kWaitTimeout when it is still running, kWaitFailed for a null handle.
uint32_t WaitForThread(ThreadHandle thread, uint32_t timeout_ms);

// Ends a running thread. On Windows the thread is terminated with exit_code
// and true is returned. Natively the thread is abandoned (see above) and
// false is returned: it may still be running. Either way the handle stays
// valid until closed.
bool TerminateThread(ThreadHandle thread, uint32_t exit_code);

// Closes the handle; a running thread goes on running. A thread may close its
// own handle.
void CloseThreadHandle(ThreadHandle thread);

// Gives the handle up without closing it, for a holder that must let go of a
// handle it may not close (the extension's unload forgets the handle of a
// worker it did not wait for). On Windows the handle stays open until the
// process ends. Natively nothing could reap the thread later, so it is
// detached (it may still be running) and the handle's memory is freed.
void ForgetThreadHandle(ThreadHandle thread);

// Handles CreateThread gave out that are not yet closed or forgotten, so
// tests can check that nothing was left behind.
size_t OutstandingThreadHandles();

// Starts proc(parameter) on a thread that nobody waits for or ends: it runs
// until proc returns. The module that holds proc stays loaded until then
// (Windows: the thread holds a reference and drops it as its last act;
// natively the module is pinned), so a host that unloads the library while
// such a thread is still inside it does not pull the code from under it.
// False when no thread could be created.
bool StartDetachedThread(ThreadProc proc, void* parameter);

uint32_t CurrentThreadId();
void Sleep(uint32_t milliseconds);
// Milliseconds since an arbitrary start, wrapping at 2^32.
uint32_t TickCount();

// RAII owner of a thread handle: closes it on destruction.
class ThreadOwner {
 public:
  ThreadOwner() = default;
  explicit ThreadOwner(ThreadHandle thread) : thread_(thread) {}
  ~ThreadOwner() { Reset(); }
  ThreadOwner(ThreadOwner&& other) noexcept : thread_(other.Release()) {}
  ThreadOwner& operator=(ThreadOwner&& other) noexcept {
    if (this != &other) {
      Reset();
      thread_ = other.Release();
    }
    return *this;
  }
  ThreadOwner(const ThreadOwner&) = delete;
  ThreadOwner& operator=(const ThreadOwner&) = delete;

  ThreadHandle get() const { return thread_; }
  ThreadHandle Release() {
    ThreadHandle thread = thread_;
    thread_ = nullptr;
    return thread;
  }
  void Reset() {
    if (thread_ != nullptr) CloseThreadHandle(thread_);
    thread_ = nullptr;
  }

 private:
  ThreadHandle thread_ = nullptr;
};

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_THREADS_H_
