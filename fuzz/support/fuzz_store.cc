#include "fuzz/support/fuzz_store.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "platform/environment.h"
#include "platform/registry.h"

namespace wendrel {
namespace fuzzing {

using platform::RegKey;

FuzzStore::FuzzStore() {
  struct stat st;
  const bool shm = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode);
  path_ = (shm ? std::string("/dev/shm") : platform::TemporaryDirectory()) + "/wendrel-fuzz-" +
          std::to_string(platform::CurrentProcessId()) + ".db";
  Reset();
  platform::SetEnvironmentVariable("WENDREL_REGISTRY", path_);
}

void FuzzStore::Reset() {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-changes"}) {
    platform::RemoveFile(path_ + suffix);
  }
}

bool FuzzStore::SetRaw(const std::string& key, const std::string& name, uint32_t type,
                       const std::vector<uint8_t>& data) {
  RegKey handle;
  return handle.Create(RegKey::LocalMachine(), key, platform::kKeyAllAccess, nullptr,
                       nullptr) == platform::kRegSuccess &&
         handle.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())) ==
             platform::kRegSuccess;
}

bool FuzzStore::SetDword(const std::string& key, const std::string& name, uint32_t value) {
  return SetRaw(key, name, platform::kRegDword,
                {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                 static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

bool FuzzStore::SetString(const std::string& key, const std::string& name,
                          const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return SetRaw(key, name, platform::kRegSz, bytes);
}

bool FuzzStore::DeleteValue(const std::string& key, const std::string& name) {
  RegKey handle;
  return handle.Open(RegKey::LocalMachine(), key, platform::kKeyAllAccess) ==
             platform::kRegSuccess &&
         handle.DeleteValue(name) == platform::kRegSuccess;
}

bool FuzzStore::CreateKey(const std::string& key) {
  RegKey handle;
  return handle.Create(RegKey::LocalMachine(), key, platform::kKeyAllAccess, nullptr, nullptr) ==
         platform::kRegSuccess;
}

FuzzStore& SharedStore() {
  static auto* store = new FuzzStore;
  return *store;
}

bool KnownNumber(const std::vector<uint8_t>* data, uint32_t default_value, uint32_t* value) {
  *value = default_value;
  if (data == nullptr) return true;
  if (data->size() != 4) return false;
  *value = 0;
  for (int i = 3; i >= 0; --i) *value = *value << 8 | (*data)[i];
  return true;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzzing
}  // namespace wendrel
