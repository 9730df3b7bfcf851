// The change-counter file beside a native store, when a plain reader (a
// login, wendrel-doctor config) is the one to make it: only where SQLite
// makes its own files beside the store, and with the store file's owner and
// permissions whatever the reader's umask and account, so that the store's
// owner can still write afterwards.

#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "platform/environment.h"
#include "platform/registry.h"
#include "tests/unit/platform/store_probe_posix.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace platform {
namespace {

namespace fs = std::filesystem;

// Owner, group and permissions of one file.
using FileAttributes = std::tuple<uid_t, gid_t, unsigned>;
// The store's files by the part of their name after the store file's.
using StoreFiles = std::map<std::string, FileAttributes>;

constexpr char kStoreName[] = "registry.db";

StoreFiles ListStore(const std::string& folder) {
  StoreFiles files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    struct stat st;
    if (name.compare(0, sizeof(kStoreName) - 1, kStoreName) != 0 ||
        stat(entry.path().c_str(), &st) != 0) {
      continue;
    }
    files[name.substr(sizeof(kStoreName) - 1)] =
        FileAttributes(st.st_uid, st.st_gid, st.st_mode & 07777);
  }
  return files;
}

// The store probe run under the account `user` (the calling process's own
// when null); its exit status, or -1 when it could not be run.
int ProbeAs(const passwd* user, const std::vector<std::string>& arguments) {
  if (user == nullptr) {
    std::string line;
    for (const std::string& a : arguments) line += Quote(a) + " ";
    return Probe(line);
  }
  std::vector<std::string> argv = {WENDREL_STORE_PROBE};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0) {
      _exit(126);
    }
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ReaderCase {
  const char* what;
  bool writer_is_nobody;  // else the test's own account
  unsigned store_mode;    // the store file's permissions, set after the write
  bool rollback_journal;  // the store taken out of WAL mode before the read
  unsigned reader_umask;
};

class StoreCounterFileTest : public wendrel::testing::RegistryTest {
 protected:
  void TearDown() override {
    umask(saved_umask_);
    std::error_code ignored;
    for (const std::string& folder : folders_) fs::remove_all(folder, ignored);
    wendrel::testing::RegistryTest::TearDown();
  }

  // A folder of its own for one store, owned by `user` when given.
  std::string Folder(const passwd* user) {
    std::string pattern = TemporaryDirectory() + "/wendrel-counter-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return "";
    folders_.push_back(pattern);
    if (user != nullptr && chown(pattern.c_str(), user->pw_uid, user->pw_gid) != 0) return "";
    return pattern;
  }

  // One case: the writer makes the store, its counter file is removed, this
  // process reads it; then the writer writes again.
  void Run(const ReaderCase& c) {
    SCOPED_TRACE(c.what);
    const passwd* nobody = c.writer_is_nobody ? getpwnam("nobody") : nullptr;
    ASSERT_TRUE(!c.writer_is_nobody || nobody != nullptr);
    const std::string folder = Folder(nobody);
    ASSERT_FALSE(folder.empty());
    const std::string store = folder + "/" + kStoreName;

    ASSERT_EQ(0, ProbeAs(nobody, {"set", store, "Value", "1"}));
    if (c.rollback_journal) {
      ASSERT_EQ(0, ProbeAs(nobody, {"rollback", store}));
    }
    ASSERT_EQ(0, chmod(store.c_str(), c.store_mode));
    ASSERT_TRUE(fs::remove(store + "-changes"));
    const StoreFiles before = ListStore(folder);

    // A connection of this process's own: the store is new to it.
    umask(c.reader_umask);
    SetEnvironmentVariable("WENDREL_REGISTRY", store);
    RegKey key;
    ASSERT_EQ(kRegSuccess, key.Open(RegKey::LocalMachine(), kStress, kKeyRead));
    uint32_t value = 0;
    uint32_t size = sizeof(value);
    EXPECT_EQ(kRegSuccess, key.QueryValue("Value", nullptr, &value, &size));
    EXPECT_EQ(1u, value);
    umask(saved_umask_);

    StoreFiles expected = before;
    if (!c.rollback_journal) expected["-changes"] = before.at("");
    EXPECT_EQ(expected, ListStore(folder));
    // The store's owner still writes, and every process hears of it.
    EXPECT_EQ(0, ProbeAs(nobody, {"set", store, "Value", "2"}));
    EXPECT_EQ(kRegSuccess, key.QueryValue("Value", nullptr, &value, &size));
    EXPECT_EQ(2u, value);
  }

 private:
  mode_t saved_umask_ = umask(022);
  std::vector<std::string> folders_;
};

TEST_F(StoreCounterFileTest, AReaderMakesTheCounterAsSqliteMakesItsFilesOrNotAtAll) {
  const ReaderCase cases[] = {
      {"shared with a group, read under a strict umask", false, 0664, false, 077},
      {"out of WAL mode, where SQLite's readers make nothing", false, 0644, true, 022},
  };
  for (const ReaderCase& c : cases) Run(c);
}

// As CI runs the tests: root reads the store of a service account.
TEST_F(StoreCounterFileTest, ARootReaderLeavesTheStoreWritableByItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as two accounts";
  Run({"written by nobody, read by root", true, 0644, false, 022});
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
