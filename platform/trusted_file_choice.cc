#include "platform/trusted_file_choice.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// The thread's choice is two integers in static TLS: no constructor, no
// destructor, nothing to free when a thread ends (probe threads are many and
// detached), and natively no dynamic TLS block for the loaded library (see
// ldap_posix.cc for why that matters).
#if defined(__ELF__)
#define WENDREL_INITIAL_EXEC_TLS __attribute__((tls_model("initial-exec")))
#else
#define WENDREL_INITIAL_EXEC_TLS
#endif

namespace wendrel {
namespace platform {
namespace {

// The texts chosen since the last ForgetTrustedFiles, each once: a thread
// refers to one by its index. Their number is that of the distinct files
// (and versions of a file) the configuration named meanwhile.
struct Files {
  std::mutex mutex;
  uint64_t generation = 1;
  std::vector<std::string> texts;
};

Files& TheFiles() {
  // Never destroyed: a detached probe may still open a handle at exit.
  static Files* files = new Files;
  return *files;
}

struct Choice {
  uint64_t generation;  // 0: none
  size_t index;
};

WENDREL_INITIAL_EXEC_TLS thread_local Choice this_thread = {0, 0};

}  // namespace

void ChooseTrustedFile(const std::string& text) {
  Files& files = TheFiles();
  std::lock_guard<std::mutex> lock(files.mutex);
  size_t index = 0;
  while (index < files.texts.size() && files.texts[index] != text) ++index;
  if (index == files.texts.size()) files.texts.push_back(text);
  this_thread = {files.generation, index};
}

std::string ChosenTrustedFile() {
  Files& files = TheFiles();
  std::lock_guard<std::mutex> lock(files.mutex);
  if (this_thread.generation != files.generation || this_thread.index >= files.texts.size()) {
    return std::string();
  }
  return files.texts[this_thread.index];
}

void ForgetTrustedFiles() {
  Files& files = TheFiles();
  std::lock_guard<std::mutex> lock(files.mutex);
  ++files.generation;
  files.texts.clear();
}

}  // namespace platform
}  // namespace wendrel
