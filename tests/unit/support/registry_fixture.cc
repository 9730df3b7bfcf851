#include "tests/unit/support/registry_fixture.h"

#include <atomic>
#include <chrono>

#include "platform/environment.h"

namespace wendrel {
namespace testing {

namespace {

using platform::RegKey;

#ifndef _WIN32
constexpr char kStoreVariable[] = "WENDREL_REGISTRY";

// A store file name no other test, process or earlier run uses.
std::string FreshStorePath() {
  static std::atomic<unsigned> counter{0};
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test != nullptr ? test->name() : "test";
  for (char& c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
  }
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  return platform::TemporaryDirectory() + "/wendrel-registry-" +
         std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(stamp) + "-" +
         std::to_string(counter++) + "-" + name + ".db";
}

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

}  // namespace

void RegistryTest::SetUp() {
#ifdef _WIN32
  DeleteTree("Software\\Tarvos");
#else
  store_path_ = FreshStorePath();
  RemoveStore(store_path_);
  platform::SetEnvironmentVariable(kStoreVariable, store_path_);
#endif
}

void RegistryTest::TearDown() {
#ifdef _WIN32
  DeleteTree("Software\\Tarvos");
#else
  RemoveStore(store_path_);
  platform::SetEnvironmentVariable(kStoreVariable, "");
#endif
}

void RegistryTest::SetDword(const std::string& key, const std::string& name, uint32_t value) {
  uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                      static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  SetRaw(key, name, platform::kRegDword, std::vector<uint8_t>(bytes, bytes + 4));
}

void RegistryTest::SetString(const std::string& key, const std::string& name,
                             const std::string& value) {
  // Written with its terminating zero, as Windows programs write strings.
  std::vector<uint8_t> bytes(value.begin(), value.end());
  bytes.push_back(0);
  SetRaw(key, name, platform::kRegSz, bytes);
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
  ASSERT_EQ(platform::kRegSuccess,
            handle.Open(RegKey::LocalMachine(), key, platform::kKeyAllAccess))
      << "opening HKLM\\" << key;
  ASSERT_EQ(platform::kRegSuccess, handle.DeleteValue(name))
      << "deleting \"" << name << "\" in HKLM\\" << key;
}

void RegistryTest::DeleteTree(const std::string& key) {
  std::vector<std::string> children;
  {
    RegKey handle;
    if (handle.Open(RegKey::LocalMachine(), key, platform::kKeyRead) != platform::kRegSuccess) {
      return;  // nothing to delete
    }
    std::string name;
    for (uint32_t i = 0; handle.EnumSubKey(i, &name) == platform::kRegSuccess; ++i) {
      children.push_back(name);
    }
  }
  for (const std::string& child : children) DeleteTree(key + "\\" + child);

  size_t slash = key.find_last_of('\\');
  std::string parent_path = slash == std::string::npos ? std::string() : key.substr(0, slash);
  std::string leaf = slash == std::string::npos ? key : key.substr(slash + 1);
  RegKey parent;
  ASSERT_EQ(platform::kRegSuccess,
            parent.Open(RegKey::LocalMachine(), parent_path, platform::kKeyAllAccess));
  EXPECT_EQ(platform::kRegSuccess, parent.DeleteSubKey(leaf)) << "deleting HKLM\\" << key;
}

}  // namespace testing
}  // namespace wendrel
