// Faults of the native registry store: concurrent processes, a store that
// cannot be written, a damaged file, a store held by another writer, keys
// deleted under an open handle.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/environment.h"
#include "platform/registry.h"
#include "tests/unit/platform/store_probe_posix.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace platform {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int32_t ReadDword(const std::string& key_path, const std::string& name, uint32_t* value) {
  RegKey key;
  int32_t status = key.Open(RegKey::LocalMachine(), key_path, kKeyRead);
  if (status != kRegSuccess) return status;
  uint32_t size = sizeof(*value);
  return key.QueryValue(name, nullptr, value, &size);
}

class RegistryStoreTest : public testing::RegistryTest {
 protected:
  void TearDown() override {
    std::error_code ignored;
    if (!scratch_.empty()) {
      fs::permissions(scratch_, fs::perms::owner_all, ignored);
      fs::remove_all(scratch_, ignored);
    }
    testing::RegistryTest::TearDown();
  }

  // A directory of this test's own, removed afterwards.
  const std::string& Scratch() {
    if (scratch_.empty()) {
      scratch_ = store_path() + ".dir";
      fs::create_directories(scratch_);
    }
    return scratch_;
  }

  // A store at `path`, filled by another process (so it is complete on disk).
  void MakeStoreFile(const std::string& path, int count) {
    ASSERT_EQ(0, Probe("write " + Quote(path) + " v " + std::to_string(count)));
  }

 private:
  std::string scratch_;
};

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNothing) {
  std::string store = Quote(store_path());
  std::string probe = Quote(WENDREL_STORE_PROBE);
  std::string both = probe + " write " + store + " a 1000 & a=$!; " + probe + " write " + store +
                     " b 1000 & b=$!; wait $a && wait $b";
  ASSERT_EQ(0, std::system(both.c_str()));

  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  uint32_t values = 0;
  ASSERT_EQ(kRegSuccess, key.QueryInfo(nullptr, &values));
  EXPECT_EQ(2000u, values);
  for (const char* prefix : {"a", "b"}) {
    for (uint32_t i = 0; i < 1000; ++i) {
      uint32_t value = ~0u;
      uint32_t size = sizeof(value);
      ASSERT_EQ(kRegSuccess, key.QueryValue(prefix + std::to_string(i), nullptr, &value, &size));
      ASSERT_EQ(i, value);
    }
  }
}

TEST_F(RegistryStoreTest, ThreadsOfOneProcessShareTheStore) {
  CreateKey(kStress);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      RegKey key;
      if (key.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess) != kRegSuccess) {
        ++failures[t];
        return;
      }
      for (uint32_t i = 0; i < 200; ++i) {
        std::string name = "t" + std::to_string(t) + "-" + std::to_string(i);
        if (key.SetValue(name, kRegDword, &i, sizeof(i)) != kRegSuccess) ++failures[t];
        uint32_t back = ~0u;
        uint32_t size = sizeof(back);
        if (key.QueryValue(name, nullptr, &back, &size) != kRegSuccess || back != i) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(4, 0), failures);
  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  uint32_t values = 0;
  EXPECT_EQ(kRegSuccess, key.QueryInfo(nullptr, &values));
  EXPECT_EQ(800u, values);
}

TEST_F(RegistryStoreTest, ReadingNeverCreatesTheStore) {
  RegKey key;
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), "Software", kKeyRead));
  RegKey root;
  ASSERT_EQ(kRegSuccess, root.Open(RegKey::LocalMachine(), "", kKeyRead));
  uint32_t subkeys = 9;
  uint32_t values = 9;
  EXPECT_EQ(kRegSuccess, root.QueryInfo(&subkeys, &values));
  EXPECT_EQ(0u, subkeys);
  EXPECT_EQ(0u, values);
  std::string name;
  EXPECT_EQ(kRegNoMoreItems, root.EnumSubKey(0, &name));
  EXPECT_FALSE(fs::exists(store_path()));

  // The first write creates the file and the directories above it.
  std::string nested = Scratch() + "/a/b/registry.db";
  SetEnvironmentVariable("WENDREL_REGISTRY", nested);
  SetDword(kStress, "Made", 1);
  EXPECT_TRUE(fs::exists(nested));
  uint32_t value = 0;
  EXPECT_EQ(kRegSuccess, ReadDword(kStress, "Made", &value));
  EXPECT_EQ(1u, value);
}

TEST_F(RegistryStoreTest, ReadOnlyStoreIsReadableButDeniesWrites) {
  SetDword(kStress, "Kept", 42);
  fs::permissions(store_path(),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  uint32_t value = 0;
  EXPECT_EQ(kRegSuccess, ReadDword(kStress, "Kept", &value));
  EXPECT_EQ(42u, value);
  RegKey key;
  EXPECT_EQ(kRegAccessDenied,
            key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr));
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess));
  uint32_t other = 7;
  EXPECT_EQ(kRegAccessDenied, key.SetValue("Kept", kRegDword, &other, sizeof(other)));
  // Even a write that would change nothing.
  uint32_t same = 42;
  EXPECT_EQ(kRegAccessDenied, key.SetValue("Kept", kRegDword, &same, sizeof(same)));
  EXPECT_EQ(kRegAccessDenied, key.DeleteValue("Kept"));
  EXPECT_EQ(kRegSuccess, ReadDword(kStress, "Kept", &value));
  EXPECT_EQ(42u, value);

  // Writable again: writes go through.
  fs::permissions(store_path(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(kRegSuccess, key.SetValue("Kept", kRegDword, &other, sizeof(other)));

  // A store that would have to be created in a read-only directory.
  std::string locked_dir = Scratch() + "/locked";
  fs::create_directories(locked_dir);
  fs::permissions(locked_dir, fs::perms::owner_read | fs::perms::owner_exec);
  SetEnvironmentVariable("WENDREL_REGISTRY", locked_dir + "/registry.db");
  EXPECT_EQ(kRegAccessDenied,
            key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr));
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_FALSE(fs::exists(locked_dir + "/registry.db"));
}

// A write of what a value holds already changes nothing on disk; a write
// that differs in type or length alone is a change.
TEST_F(RegistryStoreTest, RewritesChangeOnlyWhatDiffers) {
  SetRaw(kStress, "Bytes", kRegBinary, {1, 2});
  SetRaw(kStress, "Empty", kRegNone, {});
  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess));
  auto read = [&](const std::string& name, uint32_t* type) {
    std::vector<uint8_t> data(8, 0xEE);
    uint32_t size = static_cast<uint32_t>(data.size());
    EXPECT_EQ(kRegSuccess, key.QueryValue(name, type, data.data(), &size));
    data.resize(size);
    return data;
  };

  const std::string before = ReadFile(store_path() + "-wal");
  const uint8_t bytes[] = {1, 2};
  EXPECT_EQ(kRegSuccess, key.SetValue("BYTES", kRegBinary, bytes, sizeof(bytes)));
  EXPECT_EQ(kRegSuccess, key.SetValue("Empty", kRegNone, nullptr, 0));
  EXPECT_EQ(before, ReadFile(store_path() + "-wal"));

  uint32_t type = 0;
  EXPECT_EQ(kRegSuccess, key.SetValue("Bytes", kRegDword, bytes, sizeof(bytes)));
  EXPECT_EQ(std::vector<uint8_t>({1, 2}), read("Bytes", &type));
  EXPECT_EQ(static_cast<uint32_t>(kRegDword), type);
  EXPECT_EQ(kRegSuccess, key.SetValue("Bytes", kRegDword, bytes, 1));
  EXPECT_EQ(std::vector<uint8_t>({1}), read("Bytes", &type));
  EXPECT_EQ(kRegSuccess, key.SetValue("Empty", kRegBinary, nullptr, 0));
  EXPECT_EQ(std::vector<uint8_t>(), read("Empty", &type));
  EXPECT_EQ(static_cast<uint32_t>(kRegBinary), type);

  // Creating an existing key opens it, on a handle that can write.
  RegKey again;
  bool created = true;
  ASSERT_EQ(kRegSuccess,
            again.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, &created));
  EXPECT_FALSE(created);
  const uint8_t three[] = {3};
  EXPECT_EQ(kRegSuccess, again.SetValue("Bytes", kRegBinary, three, sizeof(three)));
  EXPECT_EQ(std::vector<uint8_t>({3}), read("Bytes", &type));
}

TEST_F(RegistryStoreTest, DamagedFilesGiveAnErrorAndStayAsTheyWere) {
  std::string junk = Scratch() + "/junk.db";
  {
    std::ofstream out(junk, std::ios::binary);
    for (int i = 0; i < 200; ++i) out << "this is not a registry store, keep it\n";
  }
  const std::string junk_before = ReadFile(junk);
  SetEnvironmentVariable("WENDREL_REGISTRY", junk);
  RegKey key;
  EXPECT_EQ(kRegBadDb, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_EQ(kRegBadDb,
            key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr));
  EXPECT_TRUE(junk_before == ReadFile(junk)) << "the file was changed";

  // Another program's SQLite database is not taken for a store either.
  std::string foreign = Scratch() + "/foreign.db";
  ASSERT_EQ(0, Probe("foreign " + Quote(foreign)));
  const std::string foreign_before = ReadFile(foreign);
  SetEnvironmentVariable("WENDREL_REGISTRY", foreign);
  EXPECT_EQ(kRegBadDb, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_EQ(kRegBadDb,
            key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr));
  EXPECT_TRUE(foreign_before == ReadFile(foreign)) << "the database was changed";

  // A store cut short: every answer is either right or an error code.
  std::string whole = Scratch() + "/whole.db";
  MakeStoreFile(whole, 500);
  std::string cut = Scratch() + "/cut.db";
  fs::copy_file(whole, cut);
  fs::resize_file(cut, fs::file_size(whole) / 2);
  SetEnvironmentVariable("WENDREL_REGISTRY", cut);
  int errors = 0;
  for (uint32_t i = 0; i < 500; ++i) {
    uint32_t value = ~0u;
    int32_t status = ReadDword(kStress, "v" + std::to_string(i), &value);
    if (status == kRegSuccess) {
      EXPECT_EQ(i, value);
    } else {
      EXPECT_TRUE(status == kRegBadDb || status == kRegFileNotFound || status == kRegIoFailed)
          << status;
      ++errors;
    }
  }
  EXPECT_GT(errors, 0);
}

TEST_F(RegistryStoreTest, StoreHeldByAnotherWriterGivesABoundedError) {
  SetDword(kStress, "Committed", 5);
  std::string ready = Scratch() + "/ready";
  std::string release = Scratch() + "/release";
  ASSERT_EQ(0, Probe("hold " + Quote(store_path()) + " " + Quote(ready) + " " + Quote(release) +
                     " &"));
  ASSERT_TRUE(WaitFor(ready, true, std::chrono::seconds(20)));

  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess));
  uint32_t six = 6;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kRegIoFailed, key.SetValue("Committed", kRegDword, &six, sizeof(six)));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_LT(waited, std::chrono::seconds(10));

  // Readers are not held up, and see what was committed.
  uint32_t value = 0;
  EXPECT_EQ(kRegSuccess, ReadDword(kStress, "Committed", &value));
  EXPECT_EQ(5u, value);

  { std::ofstream(release.c_str()); }
  ASSERT_TRUE(WaitFor(ready, false, std::chrono::seconds(20)));
  EXPECT_EQ(kRegSuccess, key.SetValue("Committed", kRegDword, &six, sizeof(six)));
  EXPECT_EQ(kRegSuccess, ReadDword(kStress, "Committed", &value));
  EXPECT_EQ(6u, value);
}

TEST_F(RegistryStoreTest, KeyDeletedByAnotherProcessIsReportedOnItsHandle) {
  SetDword(std::string(kStress) + "\\Doomed", "Value", 1);
  RegKey doomed;
  ASSERT_EQ(kRegSuccess, doomed.Open(RegKey::LocalMachine(), std::string(kStress) + "\\Doomed",
                                     kKeyAllAccess));
  ASSERT_EQ(0, Probe("delete " + Quote(store_path()) + " " + Quote(std::string(kStress) +
                                                                   "\\Doomed")));
  uint32_t value = 0;
  uint32_t size = sizeof(value);
  EXPECT_EQ(kRegKeyDeleted, doomed.QueryValue("Value", nullptr, &value, &size));
  EXPECT_EQ(kRegKeyDeleted, doomed.SetValue("Value", kRegDword, &value, sizeof(value)));
  std::string name;
  EXPECT_EQ(kRegKeyDeleted, doomed.EnumSubKey(0, &name));
}

TEST_F(RegistryStoreTest, KeyPathsAreChecked) {
  RegKey key;
  const RegKey& root = RegKey::LocalMachine();
  EXPECT_EQ(kRegInvalidParameter, key.Create(root, "Software\\\\Tarvos", kKeyAllAccess, nullptr,
                                             nullptr));
  EXPECT_EQ(kRegInvalidParameter, key.Create(root, "\\Software", kKeyAllAccess, nullptr,
                                             nullptr));
  EXPECT_EQ(kRegInvalidParameter, key.Create(root, "Software\\" + std::string(256, 'k'),
                                             kKeyAllAccess, nullptr, nullptr));
  EXPECT_FALSE(fs::exists(store_path()));
  EXPECT_EQ(kRegSuccess, key.Create(root, "Software\\" + std::string(255, 'k') + "\\",
                                    kKeyAllAccess, nullptr, nullptr));
  EXPECT_EQ(kRegSuccess, key.Open(root, "software\\" + std::string(255, 'K'), kKeyRead));
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
