#include "platform/posix/store_change_counter.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace wendrel {
namespace platform {

namespace {

constexpr size_t kCounterBytes = sizeof(uint64_t);

// The counter is shared with other processes through the mapping; the
// builtins are lock-free on a naturally aligned word (the start of a page).
uint64_t AtomicLoad(const uint64_t* word, int order) { return __atomic_load_n(word, order); }

bool CompareAndSwap(uint64_t* word, uint64_t expected, uint64_t desired, int order) {
  return __atomic_compare_exchange_n(word, &expected, desired, false, order, __ATOMIC_RELAXED);
}

}  // namespace

StoreChangeCounter::~StoreChangeCounter() {
  if (word_ != nullptr) munmap(word_, kCounterBytes);
}

std::string StoreChangeCounter::PathFor(const std::string& database) {
  return database + "-changes";
}

bool StoreChangeCounter::Map(const std::string& database, bool create, unsigned mode) {
  if (word_ != nullptr) return true;
  const std::string path = PathFor(database);
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), mode);
  bool writable = fd >= 0;
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return false;
  struct stat st;
  bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  // A fresh file is made one word long; growing a file that is long enough
  // already never happens, so a counter in use is never touched here.
  if (usable && st.st_size < static_cast<off_t>(kCounterBytes)) {
    usable = writable && ftruncate(fd, kCounterBytes) == 0;
  }
  void* mapping = MAP_FAILED;
  if (usable) {
    mapping = mmap(nullptr, kCounterBytes, PROT_READ | (writable ? PROT_WRITE : 0), MAP_SHARED,
                   fd, 0);
  }
  close(fd);  // the mapping stays
  if (mapping == MAP_FAILED) return false;
  word_ = static_cast<uint64_t*>(mapping);
  writable_ = writable;
  return true;
}

uint64_t StoreChangeCounter::Load() const { return AtomicLoad(word_, __ATOMIC_ACQUIRE); }

bool StoreChangeCounter::Still(uint64_t seen) const {
  // Orders the reads made under `seen` before this second look, as a
  // seqlock reader must.
  __atomic_thread_fence(__ATOMIC_ACQUIRE);
  return AtomicLoad(word_, __ATOMIC_RELAXED) == seen;
}

uint64_t StoreChangeCounter::BeginWrite() {
  uint64_t value = AtomicLoad(word_, __ATOMIC_RELAXED);
  uint64_t owned;
  do {
    // The next odd value: from even v to v+1; from an odd v (a writer that
    // has committed but not yet advanced, or one that died) to v+2.
    owned = (value + 1) | 1;
  } while (!__atomic_compare_exchange_n(word_, &value, owned, false, __ATOMIC_SEQ_CST,
                                        __ATOMIC_RELAXED));
  // No change of the database may become visible before the odd value.
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  return owned;
}

void StoreChangeCounter::EndWrite(uint64_t owned) {
  // Release: the commit is visible to whoever sees the even value.
  CompareAndSwap(word_, owned, owned + 1, __ATOMIC_RELEASE);
}

void StoreChangeCounter::Recover(uint64_t odd) {
  CompareAndSwap(word_, odd, odd + 1, __ATOMIC_SEQ_CST);
}

}  // namespace platform
}  // namespace wendrel
