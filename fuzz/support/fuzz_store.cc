#include "fuzz/support/fuzz_store.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "platform/environment.h"
#include "platform/registry.h"

namespace wendrel {
namespace fuzzing {
namespace {

using platform::RegKey;

std::string StoreDirectory() {
  struct stat st;
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) return "/dev/shm";
  return platform::TemporaryDirectory();
}

bool CreateIn(const std::string& key, RegKey* handle) {
  return handle->Create(RegKey::LocalMachine(), key, platform::kKeyAllAccess, nullptr, nullptr) ==
         platform::kRegSuccess;
}

}  // namespace

FuzzStore::FuzzStore()
    : path_(StoreDirectory() + "/wendrel-fuzz-" + std::to_string(platform::CurrentProcessId()) +
            ".db") {
  Reset();
  platform::SetEnvironmentVariable("WENDREL_REGISTRY", path_);
}

FuzzStore::~FuzzStore() { Reset(); }

void FuzzStore::Reset() {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-changes"}) {
    platform::RemoveFile(path_ + suffix);
  }
}

bool FuzzStore::SetRaw(const std::string& key, const std::string& name, uint32_t type,
                       const std::vector<uint8_t>& data) {
  RegKey handle;
  return CreateIn(key, &handle) &&
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
  std::vector<uint8_t> bytes(text.c_str(), text.c_str() + text.size() + 1);  // with its zero
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
  return CreateIn(key, &handle);
}

FuzzStore& SharedStore() {
  static auto* store = new FuzzStore;
  return *store;
}

uint32_t ExpectedNumber(const std::vector<uint8_t>* data, uint32_t default_value) {
  if (data == nullptr || data->size() > 4) return default_value;
  uint32_t value = default_value;
  for (size_t i = 0; i < data->size(); ++i) {
    value &= ~(0xFFu << (8 * i));
    value |= static_cast<uint32_t>((*data)[i]) << (8 * i);
  }
  return value;
}

bool TextUpToZero(const std::vector<uint8_t>* data, size_t max_bytes, std::string* text) {
  text->clear();
  if (data == nullptr || data->size() > max_bytes) return false;
  size_t length = 0;
  while (length < data->size() && (*data)[length] != 0) ++length;
  text->assign(data->begin(), data->begin() + length);
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
