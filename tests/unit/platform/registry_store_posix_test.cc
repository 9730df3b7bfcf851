// The native registry store under faults and from several processes, its
// reads answered from memory that must never be stale, and the change-counter
// file a plain reader makes.

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <tuple>
#include <vector>

#include "platform/environment.h"
#include "platform/posix/store_change_counter.h"
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
using testing::StoredValue;
using Statuses = std::vector<int32_t>;

// Stress\<name> through a key opened for it: the status, the value in *value.
int32_t ReadDword(const std::string& name, uint32_t* value) {
  RegKey key;
  int32_t status = key.Open(RegKey::LocalMachine(), kStress, kKeyRead);
  return status != kRegSuccess ? status : testing::QueryDword(key, name, value);
}

// The value through `key` (a key opened afresh without one); ~0 on failure.
uint32_t Read(const std::string& name, const RegKey* key = nullptr) {
  uint32_t value = ~0u;
  const int32_t status =
      key != nullptr ? testing::QueryDword(*key, name, &value) : ReadDword(name, &value);
  EXPECT_EQ(kRegSuccess, status) << name;
  return status == kRegSuccess ? value : ~0u;
}

RegKey OpenStress(uint32_t access = kKeyRead) {
  RegKey key;
  EXPECT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, access));
  return key;
}

// The probe as a child that can be killed; under the account `user` if given.
pid_t StartProbe(const std::vector<std::string>& arguments, const passwd* user = nullptr) {
  std::vector<std::string> argv = {WENDREL_STORE_PROBE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (user != nullptr &&
        (setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0)) {
      _exit(126);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// The child's exit status, or -1 when it did not exit.
int Wait(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

using RegistryStoreTest = testing::RegistryTest;

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNothing) {
  const std::string store = Quote(store_path()), probe = Quote(WENDREL_STORE_PROBE);
  ASSERT_EQ(0, std::system((probe + " write " + store + " a 1000 & a=$!; " + probe + " write " +
                            store + " b 1000 & b=$!; wait $a && wait $b").c_str()));
  std::map<std::string, StoredValue> expected;
  for (uint32_t i = 0; i < 1000; ++i) {
    for (const char* prefix : {"a", "b"}) expected[prefix + std::to_string(i)] = Dword(i);
  }
  EXPECT_EQ(expected, testing::ReadAllValues(OpenStress()));
}

TEST_F(RegistryStoreTest, ThreadsOfOneProcessShareTheStore) {
  CreateKey(kStress);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      RegKey key;
      if (key.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess) != kRegSuccess) ++failures[t];
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
  std::string name;
  EXPECT_EQ(kRegFileNotFound, key.Open(RegKey::LocalMachine(), "Software", kKeyRead));
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), "", kKeyRead));
  EXPECT_EQ(std::make_pair(0u, 0u), RegCounts(key));
  EXPECT_EQ(kRegNoMoreItems, key.EnumSubKey(0, &name));
  EXPECT_FALSE(fs::exists(store_path()));
  // The first write creates the file and the directories above it.
  const std::string nested = Scratch() + "/a/b/registry.db";
  SetEnvironmentVariable("WENDREL_REGISTRY", nested);
  SetDword(kStress, "Made", 1);
  EXPECT_TRUE(fs::exists(nested));
  EXPECT_EQ(Dword(1), ReadStored(kStress, "Made"));
}

TEST_F(RegistryStoreTest, ReadOnlyStoreIsReadableButDeniesWrites) {
  SetDword(kStress, "Kept", 42);
  fs::permissions(store_path(),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  RegKey key;
  const uint32_t seven = 7, same = 42;
  // Even a write that would change nothing is denied.
  EXPECT_EQ((Statuses{kRegAccessDenied, kRegSuccess, kRegAccessDenied, kRegAccessDenied,
                      kRegAccessDenied}),
            (Statuses{key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr),
                      key.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess),
                      key.SetValue("Kept", kRegDword, &seven, sizeof(seven)),
                      key.SetValue("Kept", kRegDword, &same, sizeof(same)),
                      key.DeleteValue("Kept")}));
  EXPECT_EQ(Dword(42), ReadStored(kStress, "Kept"));
  fs::permissions(store_path(), fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(kRegSuccess, key.SetValue("Kept", kRegDword, &seven, sizeof(seven)));

  // A store that would have to be created in a read-only directory.
  std::string locked_dir = Scratch() + "/locked";
  fs::create_directories(locked_dir);
  fs::permissions(locked_dir, fs::perms::owner_read | fs::perms::owner_exec);
  SetEnvironmentVariable("WENDREL_REGISTRY", locked_dir + "/registry.db");
  EXPECT_EQ((Statuses{kRegAccessDenied, kRegFileNotFound}),
            (Statuses{key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, nullptr),
                      key.Open(RegKey::LocalMachine(), kStress, kKeyRead)}));
  EXPECT_FALSE(fs::exists(locked_dir + "/registry.db"));
}

// Rewriting what a value holds changes nothing on disk; type or length alone
// is a change. Creating an existing key opens it, on a handle that can write.
TEST_F(RegistryStoreTest, RewritesChangeOnlyWhatDiffers) {
  SetRaw(kStress, "Bytes", kRegBinary, {1, 2});
  SetRaw(kStress, "Empty", kRegNone, {});
  RegKey key = OpenStress(kKeyAllAccess);
  const std::string before = ReadFile(store_path() + "-wal");
  const uint8_t bytes[] = {1, 2};
  EXPECT_EQ(kRegSuccess, key.SetValue("BYTES", kRegBinary, bytes, sizeof(bytes)));
  EXPECT_EQ(kRegSuccess, key.SetValue("Empty", kRegNone, nullptr, 0));
  EXPECT_EQ(before, ReadFile(store_path() + "-wal"));

  EXPECT_EQ(kRegSuccess, key.SetValue("Bytes", kRegDword, bytes, sizeof(bytes)));
  EXPECT_EQ((StoredValue{kRegDword, {1, 2}}), ReadStored(key, "Bytes"));
  EXPECT_EQ(kRegSuccess, key.SetValue("Bytes", kRegDword, bytes, 1));
  EXPECT_EQ((StoredValue{kRegDword, {1}}), ReadStored(key, "Bytes"));
  EXPECT_EQ(kRegSuccess, key.SetValue("Empty", kRegBinary, nullptr, 0));
  EXPECT_EQ((StoredValue{kRegBinary, {}}), ReadStored(key, "Empty"));

  RegKey again;
  bool created = true;
  ASSERT_EQ(kRegSuccess,
            again.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr, &created));
  EXPECT_FALSE(created);
  EXPECT_EQ(kRegSuccess, again.SetValue("Bytes", kRegBinary, bytes + 1, 1));
  EXPECT_EQ((StoredValue{kRegBinary, {2}}), ReadStored(key, "Bytes"));
}

TEST_F(RegistryStoreTest, DamagedFilesGiveAnErrorAndStayAsTheyWere) {
  const std::string junk = Scratch() + "/junk.db", foreign = Scratch() + "/foreign.db";
  {
    std::ofstream out(junk, std::ios::binary);
    for (int i = 0; i < 200; ++i) out << "this is not a registry store, keep it\n";
  }
  ASSERT_EQ(0, Probe("foreign " + Quote(foreign)));
  for (const std::string& path : {junk, foreign}) {
    const std::string before = ReadFile(path);
    SetEnvironmentVariable("WENDREL_REGISTRY", path);
    RegKey key;
    EXPECT_EQ((Statuses{kRegBadDb, kRegBadDb}),
              (Statuses{key.Open(RegKey::LocalMachine(), kStress, kKeyRead),
                        key.Create(RegKey::LocalMachine(), kStress, kKeyAllAccess, nullptr,
                                   nullptr)}))
        << path;
    EXPECT_TRUE(before == ReadFile(path)) << path << " was changed";
  }

  // A store cut short: every answer is either right or an error code.
  std::string whole = Scratch() + "/whole.db", cut = Scratch() + "/cut.db";
  ASSERT_EQ(0, Probe("write " + Quote(whole) + " v 500"));
  fs::copy_file(whole, cut);
  fs::resize_file(cut, fs::file_size(whole) / 2);
  SetEnvironmentVariable("WENDREL_REGISTRY", cut);
  int errors = 0;
  for (uint32_t i = 0; i < 500; ++i) {
    uint32_t value = ~0u;
    int32_t status = ReadDword("v" + std::to_string(i), &value);
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

// Readers are not held up, and see what was committed.
TEST_F(RegistryStoreTest, StoreHeldByAnotherWriterGivesABoundedError) {
  SetDword(kStress, "Committed", 5);
  std::string ready = Scratch() + "/ready", release = Scratch() + "/release";
  ASSERT_EQ(0, Probe("hold " + Quote(store_path()) + " " + Quote(ready) + " " + Quote(release) +
                     " &"));
  ASSERT_TRUE(WaitFor(ready, true, std::chrono::seconds(20)));
  RegKey key = OpenStress(kKeyAllAccess);
  uint32_t six = 6;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(kRegIoFailed, key.SetValue("Committed", kRegDword, &six, sizeof(six)));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(Dword(5), ReadStored(kStress, "Committed"));

  // Held past SQLite's own wait (3 s) but let go within the retry's: the
  // write starts over and lands.
  std::thread releaser([&release] {
    std::this_thread::sleep_for(std::chrono::milliseconds(4500));
    std::ofstream(release.c_str());
  });
  EXPECT_EQ(kRegSuccess, key.SetValue("Committed", kRegDword, &six, sizeof(six)));
  releaser.join();
  EXPECT_EQ(Dword(6), ReadStored(kStress, "Committed"));
}

TEST_F(RegistryStoreTest, KeyDeletedByAnotherProcessIsReportedOnItsHandle) {
  const std::string path = std::string(kStress) + "\\Doomed";
  SetDword(path, "Value", 1);
  RegKey doomed;
  ASSERT_EQ(kRegSuccess, doomed.Open(RegKey::LocalMachine(), path, kKeyAllAccess));
  ASSERT_EQ(0, Probe("delete " + Quote(store_path()) + " " + Quote(path)));
  uint32_t value = 0;
  std::string name;
  EXPECT_EQ((Statuses{kRegKeyDeleted, kRegKeyDeleted, kRegKeyDeleted}),
            (Statuses{testing::QueryDword(doomed, "Value", &value),
                      doomed.SetValue("Value", kRegDword, &value, sizeof(value)),
                      doomed.EnumSubKey(0, &name)}));
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

class StoreCoherenceTest : public testing::RegistryTest {
 protected:
  // Whether a write is in flight, by the change counter every process maps.
  bool InFlight() {
    if (!counter_.mapped()) {
      EXPECT_TRUE(counter_.Map(store_path(), false, 0));
    }
    return StoreChangeCounter::InFlight(counter_.mapped() ? counter_.Load() : 1);
  }
  // Another process sets Stress\<name> to `value`.
  void ProbeSet(const std::string& name, uint32_t value) {
    ASSERT_EQ(0, Probe("set " + Quote(store_path()) + " " + name + " " + std::to_string(value)));
  }

 private:
  StoreChangeCounter counter_;
};

// A reader that saw number N published (its write returned) before its call
// must read at least N: one keeps its key open (answers from memory), the
// other opens the key each time (the open looks at the file).
TEST_F(StoreCoherenceTest, ReaderNeverReadsOlderThanWhatTheWriterHadCommitted) {
  constexpr uint32_t kWrites = 1500;
  SetDword(kStress, "Race", 0);
  FILE* writer = popen((Quote(WENDREL_STORE_PROBE) + " race " + Quote(store_path()) + " " +
                        std::to_string(kWrites)).c_str(), "r");
  ASSERT_NE(nullptr, writer);
  std::atomic<uint32_t> published{0};
  std::atomic<bool> finished{false};
  std::thread pipe([&] {
    char line[32];
    while (std::fgets(line, sizeof line, writer) != nullptr) {
      published.store(static_cast<uint32_t>(std::strtoul(line, nullptr, 10)));
    }
    finished.store(true);
  });

  struct Outcome {
    long reads = 0, stale = 0, wrong = 0;
    std::string first;
  };
  std::vector<Outcome> outcomes(2);
  auto reader = [&](int which) {
    Outcome& out = outcomes[which];
    RegKey kept;
    if (kept.Open(RegKey::LocalMachine(), kStress, kKeyRead) != kRegSuccess) ++out.wrong;
    while (!finished.load()) {
      const uint32_t before = published.load();
      RegKey fresh;
      if (which == 1 && fresh.Open(RegKey::LocalMachine(), kStress, kKeyRead) != kRegSuccess) {
        ++out.wrong;
      }
      uint32_t value = ~0u;
      if (testing::QueryDword(which == 1 ? fresh : kept, "Race", &value) != kRegSuccess ||
          value > kWrites) {
        ++out.wrong;
      } else if (value < before && out.stale++ == 0) {
        out.first = "read " + std::to_string(value) + " after " + std::to_string(before);
      }
      ++out.reads;
    }
  };
  std::thread kept_reader(reader, 0), opening_reader(reader, 1);
  kept_reader.join();
  opening_reader.join();
  pipe.join();
  EXPECT_EQ(0, pclose(writer));
  EXPECT_EQ(kWrites, published.load());
  for (const Outcome& out : outcomes) {
    EXPECT_EQ(std::make_pair(0L, 0L), std::make_pair(out.stale, out.wrong)) << out.first;
    EXPECT_GT(out.reads, 20);
  }
  EXPECT_EQ(kWrites, Read("Race"));
}

// A writer dies before its commit and after it: readers never wait for it,
// read the committed value, and the counter it left odd is made even again.
TEST_F(StoreCoherenceTest, WriterKilledHalfWayLeavesNoStaleReadAndNoStuckCounter) {
  SetDword(kStress, "Stalled", 1);
  RegKey key = OpenStress();
  EXPECT_EQ(1u, Read("Stalled", &key));

  // Killed holding the write lock, its change not committed.
  const std::string ready = Scratch() + "/ready-open";
  pid_t writer = StartProbe({"stall", store_path(), "2", ready, "-"});
  ASSERT_GT(writer, 0);
  ASSERT_TRUE(WaitFor(ready, true, std::chrono::seconds(20)));
  EXPECT_TRUE(InFlight());
  EXPECT_EQ(1u, Read("Stalled", &key));
  EXPECT_EQ(1u, Read("Stalled"));
  EXPECT_TRUE(InFlight()) << "made even under a live writer";
  kill(writer, SIGKILL);
  Wait(writer);
  EXPECT_EQ(1u, Read("Stalled", &key));
  EXPECT_FALSE(InFlight());
  EXPECT_EQ(1u, Read("Stalled", &key));

  // Stopped after its commit, before the counter turned even: what was read
  // during the write is not kept, and the counter is made even while the
  // writer lives on (it holds no lock any more).
  const std::string announced = Scratch() + "/ready-announced", commit = Scratch() + "/commit";
  writer = StartProbe({"stall", store_path(), "3", announced, commit});
  ASSERT_GT(writer, 0);
  ASSERT_TRUE(WaitFor(announced, true, std::chrono::seconds(20)));
  EXPECT_EQ(1u, Read("Stalled", &key));
  EXPECT_EQ(1u, Read("Stalled", &key));
  { std::ofstream go(commit); }
  ASSERT_TRUE(WaitFor(commit + ".done", true, std::chrono::seconds(20)));
  EXPECT_EQ(3u, Read("Stalled", &key));
  EXPECT_FALSE(InFlight());
  EXPECT_EQ(3u, Read("Stalled", &key));
  kill(writer, SIGKILL);
  Wait(writer);
  EXPECT_EQ(3u, Read("Stalled", &key));
  EXPECT_EQ(3u, Read("Stalled"));

  // Later writes by other processes and by this one reach the kept key.
  ProbeSet("Stalled", 4);
  EXPECT_EQ(4u, Read("Stalled", &key));
  const uint32_t five = 5;
  ASSERT_EQ(kRegSuccess, OpenStress(kKeyAllAccess).SetValue("Stalled", kRegDword, &five, 4));
  EXPECT_EQ(5u, Read("Stalled", &key));
  EXPECT_FALSE(InFlight());
}

// The administrator puts a backup in the store's place: a key opened
// afterwards reads the backup, and writes to it reach keys opened before.
TEST_F(StoreCoherenceTest, StoreReplacedUnderARunningReaderIsNoticedAtTheNextOpen) {
  SetDword(kStress, "Kept", 1);
  RegKey before = OpenStress();
  EXPECT_EQ(1u, Read("Kept", &before));
  // Both checkpointed: nothing of either waits in a -wal file.
  const std::string backup = Scratch() + "/backup.db";
  ASSERT_EQ(0, Probe("set " + Quote(backup) + " Kept 2"));
  ASSERT_EQ(0, Probe("checkpoint " + Quote(backup)));
  ASSERT_EQ(0, Probe("checkpoint " + Quote(store_path())));
  fs::rename(backup, store_path());

  // The old handle may still answer from before; an open must not.
  uint32_t old_value = ~0u;
  int32_t status = testing::QueryDword(before, "Kept", &old_value);
  EXPECT_TRUE(status != kRegSuccess || old_value == 1 || old_value == 2) << old_value;
  EXPECT_EQ(2u, Read("Kept"));
  ProbeSet("Kept", 3);
  EXPECT_EQ(3u, Read("Kept"));
  EXPECT_EQ(3u, Read("Kept", &before));
}

// The first read of a key reads all of it (a key too large, a value at a
// time): every answer from memory must still hear of other processes' writes.
TEST_F(StoreCoherenceTest, KeyReadWholeOrByValueHearsOfLaterWritesToAnyOfItsValues) {
  SetDword(kStress, "First", 1);
  SetDword(kStress, "Second", 2);
  RegKey key = OpenStress();
  uint32_t value = 0;
  std::string name;
  // Names match with ASCII letters folded.
  EXPECT_EQ((std::vector<uint32_t>{1, 2}), (std::vector<uint32_t>{Read("First", &key),
                                                                   Read("SECOND", &key)}));
  EXPECT_EQ(kRegFileNotFound, testing::QueryDword(key, "Third", &value));
  ProbeSet("Second", 20);
  ProbeSet("Third", 3);
  EXPECT_EQ((std::vector<uint32_t>{20, 3}), (std::vector<uint32_t>{Read("second", &key),
                                                                    Read("Third", &key)}));
  EXPECT_EQ(std::make_pair(0u, 3u), RegCounts(key));
  EXPECT_EQ((Statuses{kRegSuccess, kRegNoMoreItems}),
            (Statuses{key.EnumValue(2, &name, nullptr, nullptr),
                      key.EnumValue(3, &name, nullptr, nullptr)}));
  EXPECT_EQ("Third", name);
  ASSERT_EQ(0, Probe("delete " + Quote(store_path()) + " " + Quote(kStress)));
  EXPECT_EQ((Statuses{kRegKeyDeleted, kRegKeyDeleted}),
            (Statuses{testing::QueryDword(key, "First", &value),
                      testing::QueryDword(key, "Fourth", &value)}));

  constexpr uint32_t kValues = 300;
  ASSERT_EQ(0, Probe("write " + Quote(store_path()) + " V " + std::to_string(kValues)));
  RegKey large = OpenStress();
  EXPECT_EQ(kValues - 1, Read("v" + std::to_string(kValues - 1), &large));
  EXPECT_EQ(kValues, RegCounts(large).second);
  EXPECT_EQ(kRegSuccess, large.EnumValue(kValues - 1, &name, nullptr, nullptr));
  EXPECT_EQ("V" + std::to_string(kValues - 1), name);
  ProbeSet("V7", 70);
  EXPECT_EQ(70u, Read("V7", &large));
  EXPECT_EQ(kRegFileNotFound, testing::QueryDword(large, "W1", &value));
}

// The store's files by their name's suffix: owner, group and permissions.
using StoreFiles = std::map<std::string, std::tuple<uid_t, gid_t, unsigned>>;
constexpr char kStoreName[] = "registry.db";

StoreFiles ListStore(const std::string& folder) {
  StoreFiles files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    struct stat st;
    if (name.compare(0, sizeof(kStoreName) - 1, kStoreName) == 0 &&
        stat(entry.path().c_str(), &st) == 0) {
      files[name.substr(sizeof(kStoreName) - 1)] = {st.st_uid, st.st_gid, st.st_mode & 07777};
    }
  }
  return files;
}

struct ReaderCase {
  const char* what;
  bool writer_is_nobody;  // else the test's own account
  unsigned store_mode;    // the store file's permissions, set after the write
  bool rollback_journal;  // the store taken out of WAL mode before the read
  unsigned reader_umask;
};

// The counter file a plain reader (a login, wendrel-doctor) makes: only where
// SQLite makes its own files, with the store file's owner and permissions
// whatever the reader's umask and account, so the owner still writes.
class StoreCounterFileTest : public testing::RegistryTest {
 protected:
  void TearDown() override {
    umask(saved_umask_);
    std::error_code ignored;
    for (const std::string& folder : folders_) fs::remove_all(folder, ignored);
    testing::RegistryTest::TearDown();
  }

  void Run(const ReaderCase& c) {
    SCOPED_TRACE(c.what);
    const passwd* nobody = c.writer_is_nobody ? getpwnam("nobody") : nullptr;
    ASSERT_TRUE(!c.writer_is_nobody || nobody != nullptr);
    std::string folder = TemporaryDirectory() + "/wendrel-counter-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder.data()));
    folders_.push_back(folder);
    ASSERT_TRUE(nobody == nullptr || chown(folder.c_str(), nobody->pw_uid, nobody->pw_gid) == 0);
    const std::string store = folder + "/" + kStoreName;

    ASSERT_EQ(0, Wait(StartProbe({"set", store, "Value", "1"}, nobody)));
    if (c.rollback_journal) {
      ASSERT_EQ(0, Wait(StartProbe({"rollback", store}, nobody)));
    }
    ASSERT_EQ(0, chmod(store.c_str(), c.store_mode));
    ASSERT_TRUE(fs::remove(store + "-changes"));
    StoreFiles expected = ListStore(folder);
    if (!c.rollback_journal) expected["-changes"] = expected.at("");

    umask(c.reader_umask);
    SetEnvironmentVariable("WENDREL_REGISTRY", store);
    RegKey key;
    ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
    EXPECT_EQ(1u, Read("Value", &key));
    umask(saved_umask_);
    EXPECT_EQ(expected, ListStore(folder));
    EXPECT_EQ(0, Wait(StartProbe({"set", store, "Value", "2"}, nobody)));
    EXPECT_EQ(2u, Read("Value", &key));
  }

 private:
  mode_t saved_umask_ = umask(022);
  std::vector<std::string> folders_;
};

TEST_F(StoreCounterFileTest, AReaderMakesTheCounterAsSqliteMakesItsFilesOrNotAtAll) {
  Run({"shared with a group, read under a strict umask", false, 0664, false, 077});
  Run({"out of WAL mode, where SQLite's readers make nothing", false, 0644, true, 022});
}

// As CI runs the tests: root reads the store of a service account.
TEST_F(StoreCounterFileTest, ARootReaderLeavesTheStoreWritableByItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two accounts";
  Run({"written by nobody, read by root", true, 0644, false, 022});
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
