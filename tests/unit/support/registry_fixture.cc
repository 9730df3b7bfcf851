#include "tests/unit/support/registry_fixture.h"

#include <atomic>
#include <chrono>
#include <filesystem>

#include "platform/environment.h"
#include "platform/security_descriptor.h"

namespace wendrel {
namespace testing {

namespace {

using platform::RegKey;

#ifndef _WIN32
constexpr char kStoreVariable[] = "WENDREL_REGISTRY";

void RemoveStore(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal", "-changes"}) {
    platform::RemoveFile(path + suffix);
  }
}
#endif  // !_WIN32

void OpenForWriting(const std::string& key, RegKey* out) {
  ASSERT_EQ(platform::kRegSuccess, out->Create(RegKey::LocalMachine(), key,
                                               platform::kKeyAllAccess, nullptr, nullptr))
      << "creating HKLM\\" << key;
}

// A key that cannot be opened leaves a closed handle, which every read answers
// with an error.
RegKey OpenForReading(const std::string& key) {
  RegKey handle;
  handle.Open(RegKey::LocalMachine(), key, platform::kKeyRead);
  return handle;
}

}  // namespace

void RegistryTest::SetUp() {
#ifdef _WIN32
  DeleteTree("Software\\Tarvos");
#else
  // A name no other test, process or earlier run uses.
  static std::atomic<unsigned> counter{0};
  store_path_ = platform::TemporaryDirectory() + "/wendrel-registry-" +
                std::to_string(platform::CurrentProcessId()) + "-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                "-" + std::to_string(counter++) + ".db";
  RemoveStore(store_path_);
  platform::SetEnvironmentVariable(kStoreVariable, store_path_);
#endif
}

void RegistryTest::TearDown() {
#ifdef _WIN32
  DeleteTree("Software\\Tarvos");
#else
  if (!scratch_.empty()) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(scratch_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(scratch_, ignored);
  }
  RemoveStore(store_path_);
  platform::SetEnvironmentVariable(kStoreVariable, "");
#endif
}

const std::string& RegistryTest::Scratch() {
  if (scratch_.empty()) {
    scratch_ = store_path_ + ".dir";
    std::filesystem::create_directories(scratch_);
  }
  return scratch_;
}

void RegistryTest::SetDword(const std::string& key, const std::string& name, uint32_t value) {
  SetRaw(key, name, platform::kRegDword, Dword(value).data);
}

void RegistryTest::SetString(const std::string& key, const std::string& name,
                             const std::string& value) {
  SetRaw(key, name, platform::kRegSz, SzBytes(value));
}

void RegistryTest::SetRaw(const std::string& key, const std::string& name, uint32_t type,
                          const std::vector<uint8_t>& data) {
  RegKey handle;
  OpenForWriting(key, &handle);
  if (!handle.is_open()) return;
  ASSERT_EQ(platform::kRegSuccess,
            handle.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size())))
      << "writing \"" << name << "\" in HKLM\\" << key;
}

void RegistryTest::CreateKey(const std::string& key) {
  RegKey handle;
  OpenForWriting(key, &handle);
}

void RegistryTest::DeleteValue(const std::string& key, const std::string& name) {
  RegKey handle;
  OpenForWriting(key, &handle);
  ASSERT_EQ(platform::kRegSuccess, handle.DeleteValue(name))
      << "deleting \"" << name << "\" in HKLM\\" << key;
}

void RegistryTest::DeleteTree(const std::string& key) {
  std::vector<std::string> children;
  {
    RegKey handle = OpenForReading(key);
    if (!handle.is_open()) return;
    std::string name;
    for (uint32_t i = 0; handle.EnumSubKey(i, &name) == platform::kRegSuccess; ++i) {
      children.push_back(name);
    }
  }
  for (const std::string& child : children) DeleteTree(key + "\\" + child);
  const size_t slash = key.find_last_of('\\');
  RegKey parent;
  ASSERT_EQ(platform::kRegSuccess,
            parent.Open(RegKey::LocalMachine(),
                        slash == std::string::npos ? "" : key.substr(0, slash),
                        platform::kKeyAllAccess));
  EXPECT_EQ(platform::kRegSuccess, parent.DeleteSubKey(key.substr(slash + 1)))
      << "deleting HKLM\\" << key;
}

void PrintTo(const StoredValue& value, std::ostream* out) {
  *out << "{type " << value.type << ", bytes";
  for (uint8_t b : value.data) *out << ' ' << static_cast<int>(b);
  *out << '}';
}

std::vector<uint8_t> SzBytes(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

StoredValue Sz(const std::string& text) { return {platform::kRegSz, SzBytes(text)}; }

StoredValue Dword(uint32_t value) {
  return {platform::kRegDword,
          {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
           static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)}};
}

bool RegKeyExists(const std::string& key) { return OpenForReading(key).is_open(); }

StoredValue ReadStored(const RegKey& key, const std::string& name) {
  StoredValue stored;
  uint32_t type = 0, size = 0;
  if (key.QueryValue(name, &type, nullptr, &size) != platform::kRegSuccess) return stored;
  stored.data.assign(size, 0xEE);
  if (key.QueryValue(name, &type, stored.data.data(), &size) != platform::kRegSuccess) {
    return StoredValue();
  }
  stored.data.resize(size);
  stored.type = type;
  return stored;
}

StoredValue ReadStored(const std::string& key, const std::string& name) {
  return ReadStored(OpenForReading(key), name);
}

std::map<std::string, StoredValue> ReadAllValues(const RegKey& key) {
  std::map<std::string, StoredValue> values;
  std::string name;
  StoredValue value;
  for (uint32_t i = 0;
       key.EnumValue(i, &name, &value.type, &value.data) == platform::kRegSuccess; ++i) {
    values[name] = value;
  }
  return values;
}

std::pair<uint32_t, uint32_t> RegCounts(const RegKey& key) {
  std::pair<uint32_t, uint32_t> counts;
  if (key.QueryInfo(&counts.first, &counts.second) != platform::kRegSuccess) return {~0u, ~0u};
  return counts;
}

std::pair<uint32_t, uint32_t> RegCounts(const std::string& key) {
  return RegCounts(OpenForReading(key));
}

std::string RegSddl(const std::string& key) {
  std::vector<uint8_t> descriptor;
  if (OpenForReading(key).GetSecurity(&descriptor) != platform::kRegSuccess) return "";
  return descriptor.empty() ? "" : platform::SecurityDescriptorToSddl(descriptor);
}

int32_t QueryDword(const RegKey& key, const std::string& name, uint32_t* value) {
  uint32_t size = sizeof(*value);
  return key.QueryValue(name, nullptr, value, &size);
}

}  // namespace testing
}  // namespace wendrel
