#include "platform/posix/store_change_counter.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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

// The file made for the counter takes what SQLite gives its -wal and -shm
// files: the store file's permissions whatever the umask and, in a process
// running as root, the store file's owner. A login or a diagnosis run as
// root would otherwise leave a file that the store's owner cannot write,
// and every later write of that owner would be refused.
bool HandOver(int fd, const struct stat& store, unsigned mode) {
  if (geteuid() == 0 && fchown(fd, store.st_uid, store.st_gid) != 0) return false;
  // After the owner: changing the owner may clear permission bits.
  return fchmod(fd, mode & 0777) == 0 && ftruncate(fd, kCounterBytes) == 0;
}

// Makes the counter file at `path` beside `database`. Another process may
// open it the moment it has its name, so it gets the name only once it is
// whole: made unnamed in the store's folder and linked into place. Where
// the file system cannot do that, it is made under its name without any
// permission until it is whole. True when the file exists afterwards,
// whoever made it.
bool MakeCounterFile(const std::string& database, const std::string& path, unsigned mode) {
  struct stat store;
  if (stat(database.c_str(), &store) != 0) return false;
  const size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    bool linked = false;
    if (HandOver(fd, store, mode)) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd);
      linked = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ||
               errno == EEXIST;
    }
    close(fd);
    if (linked) return true;
  }
  fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0);
  if (fd < 0) return errno == EEXIST;
  const bool made = HandOver(fd, store, mode);
  close(fd);
  if (!made) unlink(path.c_str());
  return made;
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
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT && create && MakeCounterFile(database, path, mode)) {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  bool writable = fd >= 0;
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) return false;
  struct stat st;
  bool usable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  // A fresh file is made one word long; a shorter one (left by a process
  // that died making it) is grown. Growing a file that is long enough
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
