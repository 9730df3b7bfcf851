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
using testing::Dword;
using testing::ReadStored;
using testing::RegCounts;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int32_t ReadDword(const std::string& key_path, const std::string& name, uint32_t* value) {
  RegKey key;
  int32_t status = key.Open(RegKey::LocalMachine(), key_path, kKeyRead);
  return status != kRegSuccess ? status : testing::QueryDword(key, name, value);
}

using RegistryStoreTest = testing::RegistryTest;

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNothing) {
  std::string store = Quote(store_path());
  std::string probe = Quote(WENDREL_STORE_PROBE);
  std::string both = probe + " write " + store + " a 1000 & a=$!; " + probe + " write " + store +
                     " b 1000 & b=$!; wait $a && wait $b";
  ASSERT_EQ(0, std::system(both.c_str()));

  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_EQ(2000u, RegCounts(key).second);
  for (const char* prefix : {"a", "b"}) {
    for (uint32_t i = 0; i < 1000; ++i) {
      ASSERT_EQ(Dword(i), ReadStored(key, prefix + std::to_string(i)));
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
        uint32_t back = ~0u;
        if (key.SetValue(name, kRegDword, &i, sizeof(i)) != kRegSuccess ||
            testing::QueryDword(key, name, &back) != kRegSuccess || back != i) {
          ++failures[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(4, 0), failures);
  EXPECT_EQ(800u, RegCounts(kStress).second);
}

TEST_F(RegistryStoreTest, ReadingNeverCreatesTheStore) {
  RegKey key;
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), "Software", kKeyRead));
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), "", kKeyRead));
  EXPECT_EQ(std::make_pair(0u, 0u), RegCounts(key));
  std::string name;
  EXPECT_EQ(kRegNoMoreItems, key.EnumSubKey(0, &name));
  EXPECT_FALSE(fs::exists(store_path()));

  // The first write creates the file and the directories above it.
  std::string nested = Scratch() + "/a/b/registry.db";
  SetEnvironmentVariable("WENDREL_REGISTRY", nested);
  SetDword(kStress, "Made", 1);
  EXPECT_TRUE(fs::exists(nested));
  EXPECT_EQ(Dword(1), ReadStored(kStress, "Made"));
}

TEST_F(RegistryStoreTest, ReadOnlyStoreIsReadableButDeniesWrites) {
  SetDword(kStress, "Kept", 42);
  fs::permissions(store_path(),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);

  EXPECT_EQ(Dword(42), ReadStored(kStress, "Kept"));
  RegKey key;
  EXPECT_EQ(kRegAccessDenied,
            key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr));
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess));
  // Even a write that would change nothing (42) is denied.
  for (uint32_t value : {7u, 42u}) {
    EXPECT_EQ(kRegAccessDenied, key.SetValue("Kept", kRegDword, &value, sizeof(value)));
  }
  EXPECT_EQ(kRegAccessDenied, key.DeleteValue("Kept"));
  EXPECT_EQ(Dword(42), ReadStored(kStress, "Kept"));

  // Writable again: writes go through.
  fs::permissions(store_path(), fs::perms::owner_write, fs::perm_options::add);
  uint32_t other = 7;
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

  const std::string before = ReadFile(store_path() + "-wal");
  const uint8_t bytes[] = {1, 2};
  EXPECT_EQ(kRegSuccess, key.SetValue("BYTES", kRegBinary, bytes, sizeof(bytes)));
  EXPECT_EQ(kRegSuccess, key.SetValue("Empty", kRegNone, nullptr, 0));
  EXPECT_EQ(before, ReadFile(store_path() + "-wal"));

  EXPECT_EQ(kRegSuccess, key.SetValue("Bytes", kRegDword, bytes, sizeof(bytes)));
  EXPECT_EQ((testing::StoredValue{kRegDword, {1, 2}}), ReadStored(key, "Bytes"));
  EXPECT_EQ(kRegSuccess, key.SetValue("Bytes", kRegDword, bytes, 1));
  EXPECT_EQ((testing::StoredValue{kRegDword, {1}}), ReadStored(key, "Bytes"));
  EXPECT_EQ(kRegSuccess, key.SetValue("Empty", kRegBinary, nullptr, 0));
  EXPECT_EQ((testing::StoredValue{kRegBinary, {}}), ReadStored(key, "Empty"));

  // Creating an existing key opens it, on a handle that can write.
  RegKey again;
  bool created = true;
  ASSERT_EQ(kRegSuccess,
            again.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, &created));
  EXPECT_FALSE(created);
  const uint8_t three[] = {3};
  EXPECT_EQ(kRegSuccess, again.SetValue("Bytes", kRegBinary, three, sizeof(three)));
  EXPECT_EQ((testing::StoredValue{kRegBinary, {3}}), ReadStored(key, "Bytes"));
}

TEST_F(RegistryStoreTest, DamagedFilesGiveAnErrorAndStayAsTheyWere) {
  // A file that is not a store, and another program's SQLite database.
  const std::string junk = Scratch() + "/junk.db";
  {
    std::ofstream out(junk, std::ios::binary);
    for (int i = 0; i < 200; ++i) out << "this is not a registry store, keep it\n";
  }
  const std::string foreign = Scratch() + "/foreign.db";
  ASSERT_EQ(0, Probe("foreign " + Quote(foreign)));
  for (const std::string& path : {junk, foreign}) {
    SCOPED_TRACE(path);
    const std::string before = ReadFile(path);
    SetEnvironmentVariable("WENDREL_REGISTRY", path);
    RegKey key;
    EXPECT_EQ(kRegBadDb, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
    EXPECT_EQ(kRegBadDb,
              key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr));
    EXPECT_TRUE(before == ReadFile(path)) << "the file was changed";
  }

  // A store cut short: every answer is either right or an error code.
  std::string whole = Scratch() + "/whole.db";
  ASSERT_EQ(0, Probe("write " + Quote(whole) + " v 500"));
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
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  // Readers are not held up, and see what was committed.
  EXPECT_EQ(Dword(5), ReadStored(kStress, "Committed"));

  { std::ofstream(release.c_str()); }
  ASSERT_TRUE(WaitFor(ready, false, std::chrono::seconds(20)));
  EXPECT_EQ(kRegSuccess, key.SetValue("Committed", kRegDword, &six, sizeof(six)));
  EXPECT_EQ(Dword(6), ReadStored(kStress, "Committed"));
}

TEST_F(RegistryStoreTest, KeyDeletedByAnotherProcessIsReportedOnItsHandle) {
  const std::string path = std::string(kStress) + "\\Doomed";
  SetDword(path, "Value", 1);
  RegKey doomed;
  ASSERT_EQ(kRegSuccess, doomed.Open(RegKey::LocalMachine(), path, kKeyAllAccess));
  ASSERT_EQ(0, Probe("delete " + Quote(store_path()) + " " + Quote(path)));
  uint32_t value = 0;
  EXPECT_EQ(kRegKeyDeleted, testing::QueryDword(doomed, "Value", &value));
  EXPECT_EQ(kRegKeyDeleted, doomed.SetValue("Value", kRegDword, &value, sizeof(value)));
  std::string name;
  EXPECT_EQ(kRegKeyDeleted, doomed.EnumSubKey(0, &name));
}

TEST_F(RegistryStoreTest, KeyPathsAreChecked) {
  RegKey key;
  const RegKey& root = RegKey::LocalMachine();
  for (const std::string& bad :
       {std::string("Software\\\\Tarvos"), std::string("\\Software"),
        "Software\\" + std::string(256, 'k')}) {
    EXPECT_EQ(kRegInvalidParameter, key.Create(root, bad, kKeyAllAccess, nullptr, nullptr))
        << bad;
  }
  EXPECT_FALSE(fs::exists(store_path()));
  EXPECT_EQ(kRegSuccess, key.Create(root, "Software\\" + std::string(255, 'k') + "\\",
                                    kKeyAllAccess, nullptr, nullptr));
  EXPECT_EQ(kRegSuccess, key.Open(root, "software\\" + std::string(255, 'K'), kKeyRead));
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
