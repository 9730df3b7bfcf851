// Reads of the native registry store that answer from memory while nothing
// was written must never be stale: a writer in another process racing a
// reader, a writer killed half-way through its transaction, and a store
// file replaced under a running reader.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/store_change_counter.h"
#include "platform/registry.h"
#include "tests/unit/platform/store_probe_posix.h"
#include "tests/unit/support/registry_fixture.h"

extern char** environ;

namespace wendrel {
namespace platform {
namespace {

namespace fs = std::filesystem;

// The probe as a child of this process, so that it can be killed.
pid_t StartProbe(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {WENDREL_STORE_PROBE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  pid_t pid = -1;
  return posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) == 0 ? pid : -1;
}

void Kill(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

// The value, or ~0 with the failure added to the test's report.
uint32_t Read(const RegKey& key, const std::string& name) {
  uint32_t value = ~0u;
  int32_t status = testing::QueryDword(key, name, &value);
  EXPECT_EQ(kRegSuccess, status) << name;
  return status == kRegSuccess ? value : ~0u;
}

uint32_t OpenAndRead(const std::string& name) {
  RegKey key;
  EXPECT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  return Read(key, name);
}

class StoreCoherenceTest : public testing::RegistryTest {
 protected:
  // The store's change counter, as every process maps it.
  uint64_t Counter() {
    if (!counter_.mapped()) {
      EXPECT_TRUE(counter_.Map(store_path(), false, 0));
    }
    return counter_.mapped() ? counter_.Load() : 1;
  }

  // Another process sets Stress\<name> to `value`.
  void ProbeSet(const std::string& name, uint32_t value) {
    ASSERT_EQ(0, Probe("set " + Quote(store_path()) + " " + name + " " + std::to_string(value)));
  }

 private:
  StoreChangeCounter counter_;
};

// The writer publishes each number once its write has returned; a reader
// that saw number N published before its call began must read at least N.
// One reader keeps its key open (answers from memory between writes), the
// other opens the key again and again (the open looks at the file).
TEST_F(StoreCoherenceTest, ReaderNeverReadsOlderThanWhatTheWriterHadCommitted) {
  constexpr uint32_t kWrites = 1500;
  SetDword(kStress, "Race", 0);
  FILE* writer = popen((Quote(WENDREL_STORE_PROBE) + " race " + Quote(store_path()) + " " +
                        std::to_string(kWrites)).c_str(),
                       "r");
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
    long reads = 0;
    long stale = 0;
    long wrong = 0;
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
      const RegKey* key = &kept;
      if (which == 1) {
        if (fresh.Open(RegKey::LocalMachine(), kStress, kKeyRead) != kRegSuccess) ++out.wrong;
        key = &fresh;
      }
      uint32_t value = ~0u;
      if (testing::QueryDword(*key, "Race", &value) != kRegSuccess || value > kWrites) {
        ++out.wrong;
      } else if (value < before && out.stale++ == 0) {
        out.first = "read " + std::to_string(value) + " after " + std::to_string(before);
      }
      ++out.reads;
    }
  };
  std::thread kept_reader(reader, 0);
  std::thread opening_reader(reader, 1);
  kept_reader.join();
  opening_reader.join();
  pipe.join();
  EXPECT_EQ(0, pclose(writer));

  EXPECT_EQ(kWrites, published.load());
  for (const Outcome& out : outcomes) {
    EXPECT_EQ(0, out.stale) << out.first;
    EXPECT_EQ(0, out.wrong);
    EXPECT_GT(out.reads, 20);
  }
  EXPECT_EQ(kWrites, OpenAndRead("Race"));
}

// A writer dies before its commit (nothing of it is visible) and after it
// (all of it is): readers never wait for it, read the committed value, and
// the counter it left odd is made even again, so that readers answer from
// memory and hear of later writes as before.
TEST_F(StoreCoherenceTest, WriterKilledHalfWayLeavesNoStaleReadAndNoStuckCounter) {
  SetDword(kStress, "Stalled", 1);
  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_EQ(1u, Read(key, "Stalled"));

  // Killed holding the write lock, its change not committed.
  const std::string ready = Scratch() + "/ready-open";
  pid_t writer = StartProbe({"stall", store_path(), "2", ready, "-"});
  ASSERT_GT(writer, 0);
  ASSERT_TRUE(WaitFor(ready, true, std::chrono::seconds(20)));
  EXPECT_TRUE(StoreChangeCounter::InFlight(Counter()));
  EXPECT_EQ(1u, Read(key, "Stalled"));
  EXPECT_EQ(1u, OpenAndRead("Stalled"));
  EXPECT_TRUE(StoreChangeCounter::InFlight(Counter())) << "made even under a live writer";
  Kill(writer);
  EXPECT_EQ(1u, Read(key, "Stalled"));
  EXPECT_FALSE(StoreChangeCounter::InFlight(Counter()));
  EXPECT_EQ(1u, Read(key, "Stalled"));

  // Read while its write is in flight, then stopped after its commit,
  // before the counter turned even: what was read during the write is not
  // kept, the value is visible at once, and the counter is made even while
  // the writer lives on (it holds no lock any more).
  const std::string announced = Scratch() + "/ready-announced";
  const std::string commit = Scratch() + "/commit";
  writer = StartProbe({"stall", store_path(), "3", announced, commit});
  ASSERT_GT(writer, 0);
  ASSERT_TRUE(WaitFor(announced, true, std::chrono::seconds(20)));
  EXPECT_EQ(1u, Read(key, "Stalled"));
  EXPECT_EQ(1u, Read(key, "Stalled"));
  { std::FILE* go = std::fopen(commit.c_str(), "w"); if (go != nullptr) std::fclose(go); }
  ASSERT_TRUE(WaitFor(commit + ".done", true, std::chrono::seconds(20)));
  EXPECT_EQ(3u, Read(key, "Stalled"));
  EXPECT_FALSE(StoreChangeCounter::InFlight(Counter()));
  EXPECT_EQ(3u, Read(key, "Stalled"));
  Kill(writer);
  EXPECT_EQ(3u, Read(key, "Stalled"));
  EXPECT_EQ(3u, OpenAndRead("Stalled"));

  // Later writes by other processes reach the kept key.
  ProbeSet("Stalled", 4);
  EXPECT_EQ(4u, Read(key, "Stalled"));
  const uint32_t five = 5;
  RegKey writable;
  ASSERT_EQ(kRegSuccess, writable.Open(RegKey::LocalMachine(), kStress, kKeyAllAccess));
  ASSERT_EQ(kRegSuccess, writable.SetValue("Stalled", kRegDword, &five, sizeof(five)));
  EXPECT_EQ(5u, Read(key, "Stalled"));
  EXPECT_FALSE(StoreChangeCounter::InFlight(Counter()));
}

// The administrator puts a backup in the store's place: a key opened
// afterwards reads the backup, and writes to it reach keys opened before.
TEST_F(StoreCoherenceTest, StoreReplacedUnderARunningReaderIsNoticedAtTheNextOpen) {
  SetDword(kStress, "Kept", 1);
  RegKey before;
  ASSERT_EQ(kRegSuccess, before.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_EQ(1u, Read(before, "Kept"));

  const std::string backup = Scratch() + "/backup.db";
  // A backup is one whole file: nothing of it waits in its -wal file.
  ASSERT_EQ(0, Probe("set " + Quote(backup) + " Kept 2"));
  ASSERT_EQ(0, Probe("checkpoint " + Quote(backup)));
  // What a restore has to do with a database in WAL mode: nothing of the
  // old file may wait in the -wal file that the new one takes over.
  ASSERT_EQ(0, Probe("checkpoint " + Quote(store_path())));
  fs::rename(backup, store_path());

  // The old handle may still answer from before; an open must not.
  uint32_t old_value = ~0u;
  int32_t status = testing::QueryDword(before, "Kept", &old_value);
  EXPECT_TRUE(status != kRegSuccess || old_value == 1 || old_value == 2) << old_value;
  EXPECT_EQ(2u, OpenAndRead("Kept"));

  ProbeSet("Kept", 3);
  EXPECT_EQ(3u, OpenAndRead("Kept"));
  EXPECT_EQ(3u, Read(before, "Kept"));
}

// The first read of a key reads all of it: its other values, the values it
// does not hold, its enumeration and its counts are then answered from
// memory, and each must still hear of every write another process makes.
TEST_F(StoreCoherenceTest, KeyReadWholeHearsOfLaterWritesToAnyOfItsValues) {
  SetDword(kStress, "First", 1);
  SetDword(kStress, "Second", 2);
  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_EQ(1u, Read(key, "First"));
  EXPECT_EQ(2u, Read(key, "SECOND"));  // names match with ASCII letters folded
  uint32_t value = 0;
  EXPECT_EQ(kRegFileNotFound, testing::QueryDword(key, "Third", &value));

  ProbeSet("Second", 20);
  EXPECT_EQ(20u, Read(key, "second"));
  ProbeSet("Third", 3);
  EXPECT_EQ(3u, Read(key, "Third"));
  EXPECT_EQ(std::make_pair(0u, 3u), testing::RegCounts(key));
  std::string name;
  EXPECT_EQ(kRegSuccess, key.EnumValue(2, &name, nullptr, nullptr));
  EXPECT_EQ("Third", name);
  EXPECT_EQ(kRegNoMoreItems, key.EnumValue(3, &name, nullptr, nullptr));

  ASSERT_EQ(0, Probe("delete " + Quote(store_path()) + " " + Quote(kStress)));
  for (const char* gone : {"First", "Fourth"}) {
    EXPECT_EQ(kRegKeyDeleted, testing::QueryDword(key, gone, &value)) << gone;
  }
}

// A key too large to be read whole is read a value at a time, with the same
// answers.
TEST_F(StoreCoherenceTest, LargeKeyIsReadAValueAtATime) {
  constexpr uint32_t kValues = 300;
  ASSERT_EQ(0, Probe("write " + Quote(store_path()) + " V " + std::to_string(kValues)));
  RegKey key;
  ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
  EXPECT_EQ(kValues - 1, Read(key, "v" + std::to_string(kValues - 1)));
  EXPECT_EQ(kValues, testing::RegCounts(key).second);
  std::string name;
  EXPECT_EQ(kRegSuccess, key.EnumValue(kValues - 1, &name, nullptr, nullptr));
  EXPECT_EQ("V" + std::to_string(kValues - 1), name);
  ProbeSet("V7", 70);
  EXPECT_EQ(70u, Read(key, "V7"));
  uint32_t value = 0;
  EXPECT_EQ(kRegFileNotFound, testing::QueryDword(key, "W1", &value));
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
