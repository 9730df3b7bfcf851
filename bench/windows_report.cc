#include "bench/windows_report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <vector>

#include "bench/child_process.h"
#include "config/registry_paths.h"

namespace wendrel {
namespace bench {
namespace {

// A prefix of the benchmark's own beside the build's (wine-run's
// WENDREL_WINE_PREFIX_NAME): its registry is not the one the tests share.
constexpr char kPrefixName[] = "bench";
constexpr char kWine[] = "/usr/lib/wine/wine64";
// Rounds of the registry floor's long process (three calls each).
constexpr int kRegistryRounds = 300;
constexpr char kCountsMarker[] = "registry calls: ";

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A .reg string: backslashes and quotes escaped.
std::string RegString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string RegDword(uint32_t value) {
  char text[20];
  std::snprintf(text, sizeof text, "dword:%08x", value);
  return text;
}

// A Unix path as a Windows program under Wine sees it.
std::string WinePath(const std::string& path) {
  std::string out = "Z:" + path;
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
}

// The registry calls one qzlogin.exe process made, from the line the
// extension traces at unload (shown by Wine's debugstr channel).
struct CallCounts {
  bool ok = false;
  double opens = 0, queries = 0, writes = 0, closes = 0;
  double total() const { return opens + queries + writes + closes; }
};

// The calls one more login makes: the difference of a long and a short
// process, per login.
CallCounts PerLogin(const CallCounts& one, const CallCounts& many, int logins) {
  const double n = logins - 1;
  return {one.ok && many.ok, (many.opens - one.opens) / n, (many.queries - one.queries) / n,
          (many.writes - one.writes) / n, (many.closes - one.closes) / n};
}

// The floors' form of a login's calls (bench/win32/registry_pattern.h).
std::string Pattern(const CallCounts& calls) {
  char text[80];
  std::snprintf(text, sizeof text, "%.0f,%.0f,%.0f,%.0f", calls.opens, calls.queries,
                calls.writes, std::min(calls.closes, calls.opens));
  return text;
}

CallCounts ParseCounts(const std::string& text) {
  CallCounts counts;
  const size_t at = text.rfind(kCountsMarker);
  if (at == std::string::npos) return counts;
  unsigned long long o = 0, q = 0, w = 0, c = 0;
  if (std::sscanf(text.c_str() + at + std::strlen(kCountsMarker),
                  "%llu opens, %llu queries, %llu writes, %llu closes", &o, &q, &w, &c) == 4) {
    counts = {true, double(o), double(q), double(w), double(c)};
  }
  return counts;
}

// The samples of one figure over the runs.
struct Samples {
  std::vector<double> seconds;
  double median() const { return Median(seconds); }
  double min() const {
    return seconds.empty() ? 0 : *std::min_element(seconds.begin(), seconds.end());
  }
  double max() const {
    return seconds.empty() ? 0 : *std::max_element(seconds.begin(), seconds.end());
  }
};

class WindowsBench {
 public:
  WindowsBench(Environment& env, const WindowsOptions& options)
      : env_(env),
        build_dir_(std::filesystem::absolute(options.build_dir).string()),
        options_(options),
        bin_(build_dir_ + "/bin/") {
    const std::string store = env.store_path();
    work_dir_ = store.substr(0, store.rfind('/'));
  }

  bool Run();
  const std::string& error() const { return error_; }

 private:
  using Command = std::vector<std::string>;

  bool Configure(bool use_cache);
  bool SetWineEnvironment();
  Command Qzlogin(int logins) const;
  // With `registry`, each resolution also makes those registry calls.
  Command Floor(int resolutions, const std::string& registry = "") const;
  Command RegistryFloor(int rounds, const std::string& registry = "") const;
  Command Bare() const { return {kWine, bin_ + "wendrel_bare.exe"}; }
  bool Time(const Command& command, double* seconds);
  bool CheckResolves();
  CallCounts Count(int logins);
  void PrintCounts(const char* what, const CallCounts& one, const CallCounts& many,
                   double call_seconds, double login_seconds);
  void PrintRatio(const char* what, const Samples& figure, const Samples& floor,
                  double target);
  void PrintSteps(const char* what, const Samples& figure, const Samples& floor,
                  const Samples& registry, const CallCounts& calls, bool floor_is_step,
                  double target);

  Environment& env_;
  const std::string build_dir_;  // absolute: Wine wants its prefix so
  const WindowsOptions options_;
  const std::string bin_;
  std::string work_dir_;
  std::string error_;
  std::mt19937 random_{std::random_device{}()};
};

bool WindowsBench::Configure(bool use_cache) {
  const Endpoint server = env_.directory();
  const std::string root = "HKEY_LOCAL_MACHINE\\";
  std::string reg = "REGEDIT4\r\n\r\n[-" + root + "Software\\Tarvos]\r\n\r\n";
  reg += "[" + root + kOptionsKeyPath + "]\r\n";
  reg += "\"Contextless Login Enabled\"=" + RegDword(1) + "\r\n";
  reg += "\"Search Username\"=" + RegDword(1) + "\r\n";
  reg += "\"UseCachedResults\"=" + RegDword(use_cache ? 1 : 0) + "\r\n";
  reg += "\"Allow Wildcards\"=" + RegDword(0) + "\r\n\r\n";
  reg += "[" + root + kServersKeyPath + "]\r\n\"0\"=" + RegString(server.host) + "\r\n\r\n";
  reg += "[" + root + kServerSettingsKeyPath + "]\r\n";
  reg += "\"Port 0\"=" + RegDword(static_cast<uint32_t>(server.port)) + "\r\n";
  reg += "\"ConnectionTimeout 0\"=" + RegDword(1) + "\r\n";
  reg += "\"Proxy Username 0\"=" + RegString(env_.bind_dn()) + "\r\n";
  reg += "\"Proxy Password 0\"=" + RegString(env_.password()) + "\r\n\r\n";
  reg += "[" + root + kTreesKeyPath + "]\r\n\"0\"=" + RegString(kTree) + "\r\n";
  const std::string path = work_dir_ + "/windows.reg";
  std::ofstream(path, std::ios::binary) << reg;
  // Through wine-run, which creates the prefix on first use and keeps its
  // server running for the programs timed after it.
  const std::string wine_run = build_dir_ + "/wine-run";
  if (!RunChild({wine_run, "reg", "import", WinePath(path)}).exited_zero) {
    error_ = "reg import of the configuration failed in the prefix " + std::string(kPrefixName);
    return false;
  }
  return true;
}

// The environment wine-run gives its programs, so that the timed programs
// can be started by Wine's loader directly, without a shell in between.
bool WindowsBench::SetWineEnvironment() {
  setenv("WENDREL_WINE_PREFIX_NAME", kPrefixName, 1);
  setenv("WINEPREFIX", (build_dir_ + "/wineprefix-" + kPrefixName).c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  setenv("WINEARCH", "win64", 1);
  unsetenv("WENDREL_WINE_GRAPHICS");
  return true;
}

WindowsBench::Command WindowsBench::Qzlogin(int logins) const {
  std::string events = "1296";
  for (int i = 1; i < logins; ++i) events += ",1296";
  if (logins == 0) events.clear();
  // --cancel: a selection list is answered, never shown.
  return {kWine, bin_ + "qzlogin.exe", "--user", env_.SingleUser(), "--tree", kTree,
          "--json", "--cancel", "--events", events};
}

WindowsBench::Command WindowsBench::Floor(int resolutions, const std::string& registry) const {
  const Endpoint server = env_.directory();
  Command command = {kWine, bin_ + "wendrel_ldap_floor.exe", server.host,
                     std::to_string(server.port), env_.bind_dn(), env_.password(),
                     Environment::FilterFor(env_.SingleUser()), std::to_string(resolutions)};
  if (!registry.empty()) command.push_back(registry);
  return command;
}

WindowsBench::Command WindowsBench::RegistryFloor(int rounds, const std::string& registry) const {
  Command command = {kWine, bin_ + "wendrel_registry_floor.exe", std::to_string(rounds)};
  if (!registry.empty()) command.push_back(registry);
  return command;
}

bool WindowsBench::Time(const Command& command, double* seconds) {
  const auto start = std::chrono::steady_clock::now();
  const ChildOutcome outcome = RunChild(command);
  *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!outcome.exited_zero) error_ = command[1] + " failed";
  return outcome.exited_zero;
}

// Every login of a long process must resolve, or the figures mean nothing:
// qzlogin's report holds one notification 100 per resolved login.
bool WindowsBench::CheckResolves() {
  const std::string out = work_dir_ + "/qzlogin.out";
  const int logins = 3;
  const std::string err = work_dir_ + "/qzlogin.err";
  if (!RunChildKeepingOutput(Qzlogin(logins), out, err).exited_zero) {
    error_ = "qzlogin.exe failed: " + ReadFile(err);
    return false;
  }
  const std::string report = ReadFile(out);
  const size_t from = report.find("\"notifications\"");
  const size_t to = report.find(']', from);
  int resolved = 0;
  for (size_t at = report.find("100", from); from != std::string::npos && at < to;
       at = report.find("100", at + 3)) {
    ++resolved;
  }
  if (resolved != logins) {
    error_ = "qzlogin.exe resolved " + std::to_string(resolved) + " of " +
             std::to_string(logins) + " logins: " + report;
    return false;
  }
  return true;
}

CallCounts WindowsBench::Count(int logins) {
  const std::string err = work_dir_ + "/qzlogin.err";
  setenv("WINEDEBUG", "-all,+debugstr", 1);
  const bool ok = RunChildKeepingOutput(Qzlogin(logins), "/dev/null", err).exited_zero;
  setenv("WINEDEBUG", "-all", 1);
  return ok ? ParseCounts(ReadFile(err)) : CallCounts();
}

void WindowsBench::PrintRatio(const char* what, const Samples& figure, const Samples& floor,
                              double target) {
  const double ratio = floor.median() > 0 ? figure.median() / floor.median() : 0;
  std::printf("  %-46s %9.3f ms %9.3f ms %7.3fx", what, figure.median() * 1e3,
              floor.median() * 1e3, ratio);
  if (figure.median() <= 0 || floor.median() <= 0) {
    // Process start varied more than the logins cost: nothing to judge.
    std::printf("  below the noise: more --logins or a quieter machine\n");
  } else if (target > 0) {
    std::printf("  <= %.2fx  %s\n", target, ratio <= target ? "met" : "MISSED");
  } else {
    std::printf("  (for comparison)\n");
  }
  std::printf("  %-46s %4.3f..%.3f ms  %4.3f..%.3f ms\n", "    spread over the runs",
              figure.min() * 1e3, figure.max() * 1e3, floor.min() * 1e3, floor.max() * 1e3);
}

void WindowsBench::PrintCounts(const char* what, const CallCounts& one, const CallCounts& many,
                               double call_seconds, double login_seconds) {
  if (!one.ok || !many.ok) {
    std::printf("  %-30s not counted (no trace line from the extension)\n", what);
    return;
  }
  const double n = options_.logins - 1;
  const double per_login = (many.total() - one.total()) / n;
  const double cost = per_login * call_seconds;
  std::printf("  %-30s %6.1f per login (%.1f opens, %.1f queries, %.1f writes, %.1f closes); "
              "%.0f in a 1-login process\n",
              what, per_login, (many.opens - one.opens) / n, (many.queries - one.queries) / n,
              (many.writes - one.writes) / n, (many.closes - one.closes) / n, one.total());
  if (login_seconds > 0 && call_seconds > 0) {
    std::printf("  %-30s   at %.1f us a call: %.3f ms a login, %.0f%% of it\n", "",
                call_seconds * 1e6, cost * 1e3, 100 * cost / login_seconds);
  }
}

// What each step of a login costs, per login: the wldap32 work (the floor),
// the registry calls the login made (timed by a floor program making the
// same calls through plain advapi32), and the rest, which is the extension's
// own work and the host's. Then the figure without its registry calls
// against the target: when that meets it and the whole figure does not, the
// registry calls the login must make (every getter reads its value when it
// is called) are what keeps the figure above its target.
void WindowsBench::PrintSteps(const char* what, const Samples& figure, const Samples& floor,
                              const Samples& registry, const CallCounts& calls,
                              bool floor_is_step, double target) {
  std::printf("  %s, per step (medians, ms/login):\n", what);
  double rest = figure.median() - registry.median();
  if (floor_is_step) {
    std::printf("    %-64s %8.3f\n", "wldap32 work (the floor program)", floor.median() * 1e3);
    rest -= floor.median();
  }
  char line[160];
  std::snprintf(line, sizeof line, "registry: %.0f calls (%.0f opens, %.0f queries, %.0f writes, "
                "%.0f closes)", calls.total(), calls.opens, calls.queries, calls.writes,
                calls.closes);
  std::printf("    %-64s %8.3f  (%.3f..%.3f)\n", line, registry.median() * 1e3,
              registry.min() * 1e3, registry.max() * 1e3);
  std::printf("    %-64s %8.3f\n", "the rest: the extension's own work and the host's",
              rest * 1e3);
  if (floor.median() <= 0) return;
  const double without = (figure.median() - registry.median()) / floor.median();
  std::printf("    %-64s %7.3fx  <= %.2fx  %s\n", "the figure without its registry calls / floor",
              without, target, without <= target ? "met" : "MISSED");
  if (!floor_is_step) {
    std::printf("    %-64s %7.3fx\n", "its registry calls alone / floor",
                registry.median() / floor.median());
  }
}

bool WindowsBench::Run() {
  SetWineEnvironment();
  if (!Configure(/*use_cache=*/false) || !CheckResolves()) return false;
  const int n = options_.logins;
  // The counts do not depend on timing: one process of each kind, first, so
  // that the floors below make the same calls as a login.
  const CallCounts cold_one = Count(1), cold_many = Count(n);
  if (!Configure(/*use_cache=*/true)) return false;
  Count(1);  // stores the entry
  const CallCounts cached_one = Count(1), cached_many = Count(n);
  const CallCounts cold_calls = PerLogin(cold_one, cold_many, n);
  const CallCounts cached_calls = PerLogin(cached_one, cached_many, n);
  if (!cold_calls.ok || !cached_calls.ok) {
    error_ = "no registry call counts traced by the extension";
    return false;
  }
  const std::string cold_pattern = Pattern(cold_calls);
  const std::string cached_pattern = Pattern(cached_calls);

  Samples cold, cached, floor, cold_registry, cached_registry, call, start, bare;
  for (int run = 0; run < options_.runs; ++run) {
    // Cache off: the cold logins, the floors and the process starts, in a
    // new random order every run, so that each sees the same machine.
    if (!Configure(/*use_cache=*/false)) return false;
    double c1 = 0, cn = 0, f1 = 0, fn = 0, g1 = 0, gn = 0, h1 = 0, hn = 0, r1 = 0, rn = 0;
    double s = 0, b = 0;
    std::vector<std::function<bool()>> steps = {
        [&] { return Time(Qzlogin(1), &c1); },
        [&] { return Time(Qzlogin(n), &cn); },
        [&] { return Time(Floor(1), &f1); },
        [&] { return Time(Floor(n), &fn); },
        [&] { return Time(Floor(1, cold_pattern), &g1); },
        [&] { return Time(Floor(n, cold_pattern), &gn); },
        [&] { return Time(RegistryFloor(1, cached_pattern), &h1); },
        [&] { return Time(RegistryFloor(n, cached_pattern), &hn); },
        [&] { return Time(RegistryFloor(1), &r1); },
        [&] { return Time(RegistryFloor(1 + kRegistryRounds), &rn); },
        [&] { return Time(Qzlogin(0), &s); },
        [&] { return Time(Bare(), &b); }};
    std::shuffle(steps.begin(), steps.end(), random_);
    for (auto& step : steps) {
      if (!step()) return false;
    }
    cold.seconds.push_back((cn - c1) / (n - 1));
    floor.seconds.push_back((fn - f1) / (n - 1));
    cold_registry.seconds.push_back((gn - g1) / (n - 1) - floor.seconds.back());
    cached_registry.seconds.push_back((hn - h1) / (n - 1));
    call.seconds.push_back((rn - r1) / (3.0 * kRegistryRounds));
    start.seconds.push_back(s);
    bare.seconds.push_back(b);
    // Cache on: one login stores the entry, then every login measured is
    // answered from the cache (and rewrites the entry).
    if (!Configure(/*use_cache=*/true)) return false;
    double warm = 0, k1 = 0, kn = 0;
    if (!Time(Qzlogin(1), &warm)) return false;
    std::vector<std::function<bool()>> cached_steps = {
        [&] { return Time(Qzlogin(1), &k1); }, [&] { return Time(Qzlogin(n), &kn); }};
    std::shuffle(cached_steps.begin(), cached_steps.end(), random_);
    for (auto& step : cached_steps) {
      if (!step()) return false;
    }
    cached.seconds.push_back((kn - k1) / (n - 1));
    std::printf("  run %d: cold %.3f ms, cached %.3f ms, floor %.3f ms a login\n", run + 1,
                cold.seconds.back() * 1e3, cached.seconds.back() * 1e3,
                floor.seconds.back() * 1e3);
    std::fflush(stdout);
  }

  std::printf("\nWindows build under Wine, %d users: per login, the median over %d runs of "
              "(%d logins - 1 login) / %d, whole processes:\n",
              env_.users(), options_.runs, n, n - 1);
  std::printf("  %-46s %12s %12s %8s  %7s\n", "", "figure", "floor", "ratio", "target");
  PrintRatio("cold resolution (1296, cache off) / wldap32", cold, floor, 1.2);
  PrintRatio("cached resolution / wldap32 cold", cached, floor, 0.2);
  PrintRatio("qzlogin.exe start / bare program (process)", start, bare, 0);
  std::printf("\nWhere a login's time goes (the registry calls timed by the floor programs "
              "making the same calls in the same run):\n");
  PrintSteps("cold resolution", cold, floor, cold_registry, cold_calls, true, 1.2);
  PrintSteps("cached resolution", cached, floor, cached_registry, cached_calls, false, 0.2);
  std::printf("\nRegistry calls through the port (counted, not timed: the same on any "
              "machine):\n");
  PrintCounts("cold resolution", cold_one, cold_many, call.median(), cold.median());
  PrintCounts("cached resolution", cached_one, cached_many, call.median(), cached.median());
  std::printf("  one registry call (open, query, close of the options key): %.1f us, median\n",
              call.median() * 1e6);
  return true;
}

}  // namespace

bool RunWindowsReport(Environment& env, const WindowsOptions& options) {
  WindowsBench bench(env, options);
  if (!bench.Run()) {
    std::fprintf(stderr, "wendrel_bench --windows: %s\n", bench.error().c_str());
    return false;
  }
  return true;
}

}  // namespace bench
}  // namespace wendrel
