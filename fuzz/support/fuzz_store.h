// What the fuzz targets share: a registry store of their own (a file in
// memory-backed temporary storage that $WENDREL_REGISTRY names, emptied
// whenever a target wants a fresh one) with helpers to write raw values into
// it, what the readers must make of stored bytes, and the targets' checks.

#ifndef WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_
#define WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace fuzzing {

class FuzzStore {
 public:
  // Names a store file unique to this process (under /dev/shm when it
  // exists) and points $WENDREL_REGISTRY at it. The file is created by the
  // first write.
  FuzzStore();
  // Removes the file.
  ~FuzzStore();

  FuzzStore(const FuzzStore&) = delete;
  FuzzStore& operator=(const FuzzStore&) = delete;

  // Removes every file of the store: the next call sees an empty registry.
  void Reset();

  // Writes a value under HKLM\<key>, creating the key. False when the store
  // refused it (a name too long, say): the value then does not exist.
  bool SetRaw(const std::string& key, const std::string& name, uint32_t type,
              const std::vector<uint8_t>& data);
  bool SetDword(const std::string& key, const std::string& name, uint32_t value);
  // REG_SZ with its terminating zero.
  bool SetString(const std::string& key, const std::string& name, const std::string& text);
  bool DeleteValue(const std::string& key, const std::string& name);
  bool CreateKey(const std::string& key);

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The store of this process, made on first use and never destroyed: libFuzzer
// may leave without running destructors.
FuzzStore& SharedStore();

// What a 32-bit registry getter returns for a value stored with `data`
// (null when the value is missing): the getters read at most 4 bytes into a
// little-endian buffer that holds the default, so longer data leave the
// default and shorter data overwrite only the bytes they have.
uint32_t ExpectedNumber(const std::vector<uint8_t>* data, uint32_t default_value);

// The text of `data` up to its first zero byte; false (and empty) when the
// value is missing or holds more than `max_bytes`.
bool TextUpToZero(const std::vector<uint8_t>* data, size_t max_bytes, std::string* text);

// ASCII letters upper-cased: value names compare without case.
std::string AsciiUpper(std::string text);

// Aborts the process with `what` on standard error: a fuzz target's own
// check failed, which libFuzzer reports as a crash with its input.
[[noreturn]] void Fail(const std::string& what);

inline void Check(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

}  // namespace fuzzing
}  // namespace wendrel

#endif  // WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_
