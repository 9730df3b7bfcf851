// What the fuzz targets share: a registry store of their own (a file in
// memory-backed temporary storage that $WENDREL_REGISTRY names, emptied
// whenever a target wants a fresh one), and the targets' checks.

#ifndef WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_
#define WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace fuzzing {

class FuzzStore {
 public:
  // Names a store file unique to this process and points $WENDREL_REGISTRY at it.
  FuzzStore();
  ~FuzzStore() { Reset(); }
  FuzzStore(const FuzzStore&) = delete;
  FuzzStore& operator=(const FuzzStore&) = delete;

  // Removes every file of the store: the next call sees an empty registry.
  void Reset();
  // Writes a value under HKLM\<key>, creating the key. False when the store
  // refused it (a name too long, say): the value then does not exist.
  bool SetRaw(const std::string& key, const std::string& name, uint32_t type,
              const std::vector<uint8_t>& data);
  bool SetDword(const std::string& key, const std::string& name, uint32_t value);
  bool SetString(const std::string& key, const std::string& name, const std::string& text);
  bool DeleteValue(const std::string& key, const std::string& name);
  bool CreateKey(const std::string& key);

 private:
  std::string path_;
};

// The store of this process, never destroyed: libFuzzer may leave without
// running destructors.
FuzzStore& SharedStore();

// The number a value must read as when it is stored in the readers' own form:
// missing (the default) or 4 little-endian bytes. False for other lengths,
// whose reading the unit tests pin down.
bool KnownNumber(const std::vector<uint8_t>* data, uint32_t default_value, uint32_t* value);

// ASCII letters upper-cased: value names compare without case.
std::string AsciiUpper(std::string text);

// A failed check aborts, which libFuzzer reports as a crash with its input.
[[noreturn]] void Fail(const std::string& what);
inline void Check(bool condition, const std::string& what) {
  if (!condition) Fail(what);
}

}  // namespace fuzzing
}  // namespace wendrel

#endif  // WENDREL_FUZZ_SUPPORT_FUZZ_STORE_H_
