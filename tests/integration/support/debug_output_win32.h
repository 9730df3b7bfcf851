// Listens to the debugger output of the process (the DBWIN protocol that
// OutputDebugString serves), where the trace goes on Windows: tests of the
// Windows build check the trace lines the code writes.

#ifndef WENDREL_TESTS_INTEGRATION_SUPPORT_DEBUG_OUTPUT_WIN32_H_
#define WENDREL_TESTS_INTEGRATION_SUPPORT_DEBUG_OUTPUT_WIN32_H_

#include <windows.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wendrel {
namespace testing {

class DebugOutputMonitor {
 public:
  DebugOutputMonitor()
      : buffer_ready_(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY")),
        data_ready_(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY")),
        mapping_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                    "DBWIN_BUFFER")),
        view_(mapping_ != nullptr ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096)
                                  : nullptr) {
    if (ok()) thread_ = std::thread([this] { Listen(); });
  }
  ~DebugOutputMonitor() {
    stop_ = true;
    if (thread_.joinable()) {
      SetEvent(data_ready_);
      thread_.join();
    }
    if (view_ != nullptr) UnmapViewOfFile(view_);
    for (HANDLE h : {mapping_, data_ready_, buffer_ready_}) {
      if (h != nullptr) CloseHandle(h);
    }
  }
  DebugOutputMonitor(const DebugOutputMonitor&) = delete;
  DebugOutputMonitor& operator=(const DebugOutputMonitor&) = delete;

  bool ok() const { return buffer_ready_ && data_ready_ && mapping_ && view_; }

  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  // Whether a line containing `text` has come, waiting up to 5 s for it.
  bool Saw(const std::string& text) {
    for (int i = 0; i < 50; ++i) {
      for (const std::string& line : lines()) {
        if (line.find(text) != std::string::npos) return true;
      }
      Sleep(100);
    }
    return false;
  }

 private:
  void Listen() {
    while (!stop_) {
      SetEvent(buffer_ready_);
      if (WaitForSingleObject(data_ready_, 1000) != WAIT_OBJECT_0 || stop_) continue;
      const char* text = static_cast<const char*>(view_) + sizeof(DWORD);
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.emplace_back(text, strnlen(text, 4096 - sizeof(DWORD)));
    }
  }

  HANDLE buffer_ready_;
  HANDLE data_ready_;
  HANDLE mapping_;
  void* view_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_SUPPORT_DEBUG_OUTPUT_WIN32_H_
