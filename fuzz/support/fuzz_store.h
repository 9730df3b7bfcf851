// What the fuzz targets share: a registry store of their own, what the
// readers must make of stored bytes, and the targets' checks.

#ifndef WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_
#define WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace fuzzing {

class FuzzStore {
 public:
  // A file of this process's own (in /dev/shm when there is one, for speed)
  // that $WENDREL_REGISTRY names; the first write creates it.
  FuzzStore();
  ~FuzzStore();

  FuzzStore(const FuzzStore&) = delete;
  FuzzStore& operator=(const FuzzStore&) = delete;

  // Removes every file of the store: the next call sees an empty registry.
  void Reset();
  // Each false when the store refused (a name too long, say): nothing changed.
  bool SetRaw(const std::string& key, const std::string& name, uint32_t type,
              const std::vector<uint8_t>& data);
  bool SetDword(const std::string& key, const std::string& name, uint32_t value);
  bool SetString(const std::string& key, const std::string& name, const std::string& text);
  bool DeleteValue(const std::string& key, const std::string& name);
  bool CreateKey(const std::string& key);

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

// `data` up to its first zero byte; false (and empty) when missing or over `max_bytes`.
bool TextUpToZero(const std::vector<uint8_t>* data, size_t max_bytes, std::string* text);

// ASCII letters upper-cased: value names compare without case.
std::string AsciiUpper(std::string text);

// A target's own check failed: abort with `what`, which libFuzzer reports as a crash.
[[noreturn]] void Fail(const std::string& what);

inline void Check(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

}  // namespace fuzzing
}  // namespace wendrel

#endif  // WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_
