// The change counter of a native registry store: one 64-bit word in a small
// file beside the database ("<store>-changes"), mapped into every process
// that uses the store, so that a reader learns with one memory load whether
// anything was written since it last looked.
//
// Seqlock protocol. A writer advances the counter to an odd value once it
// holds the database's write lock and before it changes anything, and to the
// next even value once its commit is visible. An even value therefore names
// one committed state of the database; an odd value means a write may be in
// flight. Because the commit releases the database's write lock before the
// counter turns even, the next writer may find the counter still odd: it
// moves on to the next odd value, and the late writer's own advance (a
// compare-and-swap from its odd value) then does nothing. A writer that died
// while the counter was odd leaves it odd; whoever next holds the write lock
// knows that no write is in flight and makes it even (Recover).
//
// Deleting the file while processes have it mapped is like deleting the
// database's -shm file: those processes no longer hear of writes. Replacing
// the database itself is noticed when a key is opened, and the store then
// maps the counter afresh.

#ifndef WENDREL_PLATFORM_POSIX_STORE_CHANGE_COUNTER_H_
#define WENDREL_PLATFORM_POSIX_STORE_CHANGE_COUNTER_H_

#include <cstdint>
#include <string>

namespace wendrel {
namespace platform {

class StoreChangeCounter {
 public:
  StoreChangeCounter() = default;
  ~StoreChangeCounter();
  StoreChangeCounter(const StoreChangeCounter&) = delete;
  StoreChangeCounter& operator=(const StoreChangeCounter&) = delete;

  // The counter file of the database at `database` (its full path).
  static std::string PathFor(const std::string& database);

  // Maps the counter of `database`: writable when the file can be opened for
  // writing, else read-only. `create` makes a missing file the way SQLite
  // makes its -wal and -shm files: with the permissions `mode` (the store
  // file's) whatever the umask, and, in a process running as root, with the
  // store file's owner and group, so that whoever made it locks nobody out.
  // The file appears whole (one word, its owner and permissions set) or not
  // at all. False, and nothing mapped, when the file is missing or cannot be
  // read.
  bool Map(const std::string& database, bool create, unsigned mode);

  bool mapped() const { return word_ != nullptr; }
  bool writable() const { return writable_; }

  // The value now (acquire: what the caller reads afterwards is at least as
  // new as the writes this value stands for).
  uint64_t Load() const;
  // After reading under the value `seen`: whether the counter still holds it
  // (nothing began to be written meanwhile).
  bool Still(uint64_t seen) const;

  static bool InFlight(uint64_t value) { return (value & 1) != 0; }

  // Writer side, with the database's write lock held. BeginWrite returns
  // the odd value this write owns; EndWrite (after the commit, or the
  // rollback) makes it even unless a later writer has moved on.
  uint64_t BeginWrite();
  void EndWrite(uint64_t owned);
  // With the write lock held and the counter odd: the writer that made it
  // odd is gone (it holds no lock), and whatever it committed is visible.
  void Recover(uint64_t odd);

 private:
  uint64_t* word_ = nullptr;
  bool writable_ = false;
};

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_STORE_CHANGE_COUNTER_H_
