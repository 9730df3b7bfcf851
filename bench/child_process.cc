#include "bench/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace wendrel {
namespace bench {

namespace {

ChildOutcome Run(const std::vector<std::string>& argv, const char* stdout_path,
                 const char* stderr_path) {
  ChildOutcome outcome;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path, O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, stderr_path, O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return outcome;

  int status = 0;
  struct rusage usage = {};
  pid_t waited;
  do {
    waited = wait4(pid, &status, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) return outcome;
  outcome.exited_zero = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  outcome.peak_rss_kib = usage.ru_maxrss;
  outcome.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                        (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return outcome;
}

}  // namespace

ChildOutcome RunChild(const std::vector<std::string>& argv) {
  return Run(argv, "/dev/null", "/dev/null");
}

ChildOutcome RunChildKeepingOutput(const std::vector<std::string>& argv,
                                   const std::string& stdout_path,
                                   const std::string& stderr_path) {
  return Run(argv, stdout_path.c_str(), stderr_path.c_str());
}

}  // namespace bench
}  // namespace wendrel
