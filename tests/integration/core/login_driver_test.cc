// The login driver driven in-process as the login host drives it, against
// real slapd servers, for what a whole login through qzlogin cannot show.

#include "core/login_driver.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "config/registry_paths.h"
#include "core/workers.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "platform/ldap.h"
#include "platform/registry.h"
#include "platform/threads.h"
#include "tests/integration/core/host_double.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace wendrel {
namespace testing {
namespace {

class LoginDriverTest : public HostedLoginTest {
 protected:
  void TearDown() override {
    SetConnectivityPauseForTesting(kConnectivityPauseMs);
    SetWorkerStopTimeoutForTesting(kWorkerStopTimeoutMs);
    platform::FailSslClientInitForTesting(false);
    HostedLoginTest::TearDown();
  }

  // A TLS server first, so that the search starts the TLS client, and a plain
  // one that answers (under Wine the certificate cannot be verified).
  void StartTlsThenPlain() {
    ASSERT_TRUE(dir_.Start({"A:tls=good", "A"})) << dir_.error();
    ConfigureTreeA({Tls(0), Plain(1)});
    GetWorkerState().tls_initialized.store(0);
  }
};

// Before event 0 the search events only chain, with every argument.
TEST_F(LoginDriverTest, OtherEventsAndEventsBeforeStartOnlyChain) {
  SetOptions({{"Contextless Login Enabled", 1}});
  HostRecord record("asmith", "A");
  EXPECT_EQ(LoginExtCallback(host_, kEventTabData, 1, 2, record.data(), 3, 4), 42);
  EXPECT_EQ(LoginExtCallback(host_, 5, 7, 8, record.data(), 9, 10), 42);
  ASSERT_EQ(g_chained.size(), 2u);
  const ChainedCall& call = g_chained[1];
  EXPECT_EQ(std::make_tuple(static_cast<void*>(host_), 5u, 7u, 8u, record.data(), 9u, 10u),
            std::make_tuple(call.host, call.event, call.a, call.b, call.record, call.c, call.d));
  EXPECT_EQ(Observe(record), Unresolved("asmith"));
}

// Treeless login clears the whole field before the tree, not only its first byte.
TEST_F(LoginDriverTest, TreelessLoginClearsTheWholeFieldBeforeTheTree) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  SetTrees({"A"});
  SetOptions({{"Treeless Login Enabled", 1}});
  HostRecord record("asmith", "");
  EXPECT_EQ(Login(record),
            Outcome("A", "asmith", "eng.A", "", kCallingModuleMark, {kNotifyResolved}, {}));
  EXPECT_EQ(record.field24_buffer(), std::vector<char>(256, 0));
  EXPECT_EQ(StartUIRecord(), nullptr);  // the record carried no start-UI node
}

// Event 102 waits until a server takes a bind, then searches; with none
// answering it gives up after its passes (shortened here) and searches anyway.
TEST_F(LoginDriverTest, SearchEventWaitsForAServerThenSearches) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ConfigureTreeA({Plain(0)});
  ASSERT_TRUE(dir_.Stop(0)) << dir_.error();
  bool restarted = false;
  std::thread back([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    restarted = dir_.Restart(0);
  });
  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(kEventSearch, record), 42);
  double waited = SecondsSince(start);
  back.join();
  ASSERT_TRUE(restarted) << dir_.error();
  EXPECT_TRUE(waited >= 2.5 && waited < 25.0) << waited;
  EXPECT_EQ(Observe(record), Resolved("asmith", "eng.A"));

  ConfigureTreeA({Closed()});
  SetConnectivityPauseForTesting(60);
  g_notified.clear();
  HostRecord unanswered("asmith", "A");
  Send(kEventStart, unanswered);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(kEventSearch, unanswered), 42);
  waited = SecondsSince(start);
  EXPECT_TRUE(waited >= kConnectivityPasses * 0.06 && waited < 20.0) << waited;
  EXPECT_EQ(Observe(unanswered), Unresolved("asmith", {Composed("No LDAP server specified.")}));
}

// QZLG_TERMINATE ends TLS and the retry memory; a later login starts TLS again.
TEST_F(LoginDriverTest, TerminateEndsTlsAndLaterEventsAreStillServed) {
  ASSERT_NO_FATAL_FAILURE(StartTlsThenPlain());
  const std::string key = UnreachableServerKey("ldap.example", 389, false);
  UnreachableServers::Instance().Remember(key, 60);
  auto tls_and_memory = [&] {
    return std::make_tuple(GetWorkerState().tls_initialized.load(),
                           UnreachableServers::Instance().IsRemembered(key));
  };
  HostRecord first("asmith", "A");
  EXPECT_EQ(Login(first), Resolved("asmith", "eng.A"));
  EXPECT_EQ(tls_and_memory(), std::make_tuple(1, true));
  EXPECT_EQ(Send(kEventTerminate, first), 42);
  EXPECT_EQ(tls_and_memory(), std::make_tuple(0, false));

  HostRecord second("asmith", "A");
  EXPECT_EQ(Login(second), Resolved("asmith", "eng.A"));
  EXPECT_EQ(tls_and_memory(), std::make_tuple(1, false));
  EXPECT_EQ(g_chained.size(), 5u);
  Send(kEventTerminate, second);
}

// A search waits for the start-up worker still binding, and the handle it
// took from the slot is closed: the worker, finding the slot empty, does not.
TEST_F(LoginDriverTest, SearchWaitsForTheStartUpWorkerAndClosesItsHandle) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ConfigureTreeA({SilentTls(2), Plain(0)});
  const size_t before = platform::OutstandingThreadHandles();
  StartWorker();
  HostRecord record("asmith", "A");
  EXPECT_EQ(Login(record), Resolved("asmith", "eng.A"));
  EXPECT_EQ(GetWorkerState().thread_handle.load(), nullptr);
  EXPECT_EQ(platform::OutstandingThreadHandles(), before);
}

// A TLS client that cannot start: message 27, nothing written; the next login retries.
TEST_F(LoginDriverTest, TlsClientThatCannotStartShowsMessage27) {
  ASSERT_NO_FATAL_FAILURE(StartTlsThenPlain());
  platform::FailSslClientInitForTesting(true);
  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  EXPECT_EQ(Send(kEventTabData, record), 42);
  EXPECT_EQ(Observe(record),
            Unresolved("asmith", {Composed("LDAP client could not initialize.")}));
  EXPECT_EQ(GetWorkerState().tls_initialized.load(), 0);

  platform::FailSslClientInitForTesting(false);
  Send(kEventTabData, record);
  EXPECT_EQ(record.Text(kStartInfoContext), "eng.A");
  Send(kEventTerminate, record);
}

// A cache hit (the server stopped) rewrites every value at its full 260 bytes.
TEST_F(LoginDriverTest, CacheHitStoresItsEntryAgain) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ConfigureTreeA({Plain(0)}, {{"UseCachedResults", 1}});
  const std::string entry = std::string(kCachedResultsKeyPath) + "\\A\\ASMITH";
  std::map<std::string, std::pair<size_t, std::string>> expected = {
      {"UserTree", {260, "A"}},        {"UserServer", {260, dir_.server(0).host}},
      {"User", {260, "asmith"}},       {"UserContext", {260, "eng.A"}},
      {"UserFDN", {260, "cn=asmith"}}, {"UserContextFDN", {260, "ou=eng.o=A"}}};
  for (const auto& value : expected) SetString(entry, value.first, value.second.second);
  ASSERT_TRUE(dir_.Stop(0)) << dir_.error();

  HostRecord record("asmith", "A");
  EXPECT_EQ(Login(record), Resolved("asmith", "eng.A"));
  platform::RegKey key;
  ASSERT_EQ(key.Open(platform::RegKey::LocalMachine(), entry, platform::kKeyRead),
            platform::kRegSuccess);
  std::map<std::string, std::pair<size_t, std::string>> stored;
  for (const auto& value : ReadAllValues(key)) {
    const std::vector<uint8_t>& data = value.second.data;
    stored[value.first] = {data.size(), std::string(data.begin(), data.end()).c_str()};
  }
  EXPECT_EQ(stored, expected);
}

// The login prompt: `inside` runs once, in the modal loop of the first box.
// On Windows a real window is the prompt and the boxes are the system's: a
// CBT hook sees each, and a timer run by its modal loop calls `inside` and
// presses the first button. Natively the presenter is the loop and the prompt.
class ModalLoopPrompt {
 public:
  ModalLoopPrompt(RecordingPresenter& presenter, std::function<void()> inside)
      : presenter_(presenter), inside_(std::move(inside)) {
#ifdef _WIN32
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "WendrelTestLoginPrompt";
    RegisterClassA(&window_class);
    prompt_ = CreateWindowExA(0, window_class.lpszClassName, "Login", WS_OVERLAPPEDWINDOW, 0, 0,
                              320, 200, nullptr, nullptr, window_class.hInstance, nullptr);
    ShowWindow(prompt_, SW_SHOW);
    SetForegroundWindow(prompt_);
    SetActiveWindow(prompt_);
    previous_ = platform::SetMessageBoxPresenter(nullptr);  // the system's boxes
    current_ = this;
    hook_ = SetWindowsHookExA(WH_CBT, CbtProc, nullptr, GetCurrentThreadId());
#else
    presenter_.on_show = [this](const ShownBox&) {
      if (++boxes_shown == 1) inside_();
    };
#endif
  }

  ~ModalLoopPrompt() {
#ifdef _WIN32
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    current_ = nullptr;
    platform::SetMessageBoxPresenter(previous_);
    if (prompt_ != nullptr) DestroyWindow(prompt_);
#else
    presenter_.on_show = nullptr;
#endif
  }

  // Boxes shown; of the first, whether the prompt owned it and was disabled.
  int boxes_shown = 0;
  bool owned_by_prompt = true, prompt_disabled = true;

 private:
  RecordingPresenter& presenter_;
  std::function<void()> inside_;
#ifdef _WIN32
  static LRESULT CALLBACK CbtProc(int code, WPARAM wparam, LPARAM lparam) {
    ModalLoopPrompt* self = current_;
    if (code == HCBT_ACTIVATE && self != nullptr) {
      HWND window = reinterpret_cast<HWND>(wparam);
      char name[16] = {};
      GetClassNameA(window, name, sizeof name);
      if (lstrcmpA(name, "#32770") == 0 && window != self->box_) {
        self->box_ = window;
        SetTimer(nullptr, 0, 0, AnswerBox);  // runs once the box's modal loop does
      }
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
  }

  static void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    ModalLoopPrompt* self = current_;
    if (self == nullptr || self->box_ == nullptr) return;
    HWND box = self->box_;
    if (++self->boxes_shown == 1) {
      self->owned_by_prompt = GetWindow(box, GW_OWNER) == self->prompt_;
      self->prompt_disabled = IsWindowEnabled(self->prompt_) == FALSE;
      self->inside_();
    }
    // OK, or Yes of a question: the first button either way.
    const int button = GetDlgItem(box, IDOK) != nullptr ? IDOK : IDYES;
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
  }

  static inline ModalLoopPrompt* current_ = nullptr;
  platform::MessageBoxPresenter* previous_ = nullptr;
  HWND prompt_ = nullptr;
  HHOOK hook_ = nullptr;
  HWND box_ = nullptr;  // the box waiting for its answer
#endif
};

// Events sent from inside a box's modal loop (the host's messages still flow)
// are only passed on, and QZLG_TERMINATE is held until the outer event ends.
TEST_F(LoginDriverTest, EventsFromInsideABoxOnlyChainAndTerminateWaitsForTheOuterEvent) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ConfigureTreeA({Plain(0)});
  HostRecord record("nobody", "A");  // no such user: one stop box
  HostRecord other("asmith", "A");
  GetWorkerState().stop_requested.store(0);

  std::vector<int32_t> inner_results;
  int stop_requested_inside = -1;
  size_t chained_before_inner = 0;
  Send(kEventStart, record);
  {
    ModalLoopPrompt prompt(presenter_, [&] {
      chained_before_inner = g_chained.size();
      for (uint32_t event : {kEventStart, kEventTabData, kEventTerminate}) {
        inner_results.push_back(Send(event, other));
      }
      stop_requested_inside = GetWorkerState().stop_requested.load();
    });
    EXPECT_EQ(Send(kEventTabData, record), 42);
    // One box: the inner tab data searched nothing.
    EXPECT_EQ(std::make_tuple(1, true, true),
              std::make_tuple(prompt.boxes_shown, prompt.owned_by_prompt, prompt.prompt_disabled));
  }

  // The inner events chained at once, in order; the outer tab data after them.
  EXPECT_EQ(inner_results, std::vector<int32_t>({42, 42, 42}));
  std::vector<uint32_t> chained_events;
  for (size_t i = chained_before_inner; i < g_chained.size(); ++i) {
    chained_events.push_back(g_chained[i].event);
  }
  EXPECT_EQ(chained_events,
            std::vector<uint32_t>({kEventStart, kEventTabData, kEventTerminate, kEventTabData}));
  // The inner start did not replace the record, and nothing was resolved.
  EXPECT_EQ(StartInfoRecord(), record.data());
  EXPECT_EQ(other.Text(kStartInfoContext), "");
  EXPECT_TRUE(g_notified.empty());
  // Terminate was held while the outer search was on, and handled after it.
  EXPECT_EQ(std::make_tuple(0, 1), std::make_tuple(stop_requested_inside,
                                                   GetWorkerState().stop_requested.load()));
  HostRecord later("asmith", "A");
  EXPECT_EQ(Login(later), Resolved("asmith", "eng.A"));
}

// A login while the fixture's fault proxy kills, freezes, cuts or garbles a
// server at one request (search #2 is the user search; #1 reads the tree
// name): it ends with its message within its bound, and the next is served.
struct Fault {
  const char* name;
  std::vector<std::string> servers;  // fixture specs; those with fault= are reached by the proxy
  int search_timeout;
  std::string message;  // of the failed login, composed with a leading '+'; empty: served
  double at_least;      // seconds the failed login takes at least
};

const Fault kFaults[] = {
    {"ServerKilledAfterTheBindBeforeTheSearch", {"A:fault=kill@search#2"}, 20,
     "LDAP Server is unavailable.", 0},
    {"ServerFrozenMidSearchEndsAtTheSearchTimeLimit", {"A:fault=freeze@search#2"}, 2,
     "+Timeout exceeded while searching for user.", 1.9},
    {"ConnectionClosedByTheServerBeforeItsAnswer", {"A:fault=close@search#2"}, 20,
     "LDAP Server is unavailable.", 0},
    {"ServerAnsweringTheBindWithNonLdapBytesIsSkippedSilently", {"A:fault=garbage@bind", "A"},
     20, "", 0},
    {"SearchAnsweredWithCode80IsRetriedAndItsResultUsed", {"A:fault=other@search#2"}, 20, "", 0},
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

class ServerFaultsTest : public HostedLoginTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(ServerFaultsTest, LoginDuringTheFaultAndTheLoginAfterIt) {
  const Fault& fault = GetParam();
  ASSERT_TRUE(dir_.Start(fault.servers)) << dir_.error();
  std::vector<ServerConfig> servers;
  for (size_t i = 0; i < fault.servers.size(); ++i) {
    servers.push_back(Plain(i));
    servers.back().search_timeout = fault.search_timeout;
    if (fault.servers[i].find("fault=") == std::string::npos) continue;
    servers.back().port = dir_.server(i).proxy_port;
    servers.back().connection_timeout = 2;
  }
  ConfigureTreeA(servers);

  HostRecord first("asmith", "A");
  const auto start = std::chrono::steady_clock::now();
  const std::string outcome = Login(first);
  const double took = SecondsSince(start);
  const std::string message =
      fault.message[0] == '+' ? Composed(fault.message.substr(1)) : fault.message;
  EXPECT_EQ(outcome, message.empty() ? Resolved("asmith", "eng.A")
                                     : Unresolved("asmith", {message}));
  EXPECT_TRUE(took >= fault.at_least && took < 10.0) << took;
  const std::string& spec = fault.servers[0];
  const bool killed = spec.find("kill@") != std::string::npos;
  if (killed || spec.find("freeze@") != std::string::npos) {
    ASSERT_TRUE(killed ? dir_.Restart(0) : dir_.Thaw(0)) << dir_.error();
  }
  if (spec.find("fault=other") != std::string::npos) return;  // a retry was its own recovery

  HostRecord next("asmith", "A");
  EXPECT_EQ(Login(next), Resolved("asmith", "eng.A"));
}

INSTANTIATE_TEST_SUITE_P(, ServerFaultsTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& info) {
                           return std::string(info.param.name);
                         });

#ifndef _WIN32
// Natively a worker that outlives terminate's wait runs on to the end of its
// bind: what it reports then must not refill the retry memory.
TEST_F(LoginDriverTest, WorkerStillBindingAfterTerminateRemembersNothing) {
  ASSERT_TRUE(dir_.Start({"A:tls=good"})) << dir_.error();
  SetOptions({{"Unreachable Server Retry Seconds", 60}});
  const ServerConfig silent = SilentTls(2);  // never answers: the bind takes 2 s
  SetServers({silent});
  const std::string key = UnreachableServerKey(silent.host, silent.port, true);
  WorkerState& state = GetWorkerState();
  ASSERT_EQ(state.thread_handle.load(), nullptr);

  SetWorkerStopTimeoutForTesting(200);
  StartWorker();
  platform::Sleep(300);  // past its stop check and into the bind
  HostRecord record("asmith", "A");
  Send(kEventTerminate, record);
  ASSERT_NE(state.worker_running.load(), 0) << "the worker ended within terminate's wait";
  EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(key));

  // The worker's bind times out now, and it reports the server unreachable.
  for (int i = 0; i < 600 && state.worker_running.load() != 0; ++i) platform::Sleep(10);
  ASSERT_EQ(state.worker_running.load(), 0);
  EXPECT_FALSE(UnreachableServers::Instance().IsRemembered(key));
}

// The administrator's events of whole logins, in the native log's file
// ($WENDREL_EVENT_LOG): a configuration, logins of asmith, the whole file.
enum Setup { kPlain, kReadOnlyStore, kWrongTypes };

struct EventCase {
  const char* name;
  // A, B: the servers of trees A and B; S: silent; C: closed; N: A whose
  // tree name cannot be read; P: A with a proxy password it refuses.
  std::string servers;
  std::vector<std::pair<std::string, uint32_t>> options;
  int logins;
  Setup setup;
  std::string context;  // what the last login wrote back
  // {X}: server X as configured, name:port; {HA} A's name; {DN} the proxy DN.
  std::vector<std::string> events;
};

const EventCase kEventCases[] = {
    {"SilentServer", "SA", {}, 1, kPlain, "eng.A",
     {"1001 Warning The directory server {S} was skipped: no connection could be made to it "
      "(no answer within 1 second)."}},
    {"BindRefused", "P", {}, 1, kPlain, "eng.A",
     {"1002 Warning The directory server {A} refused the bind as {DN} (Invalid credentials, code "
      "0x31). Without those credentials it was searched only if it still gave its tree name."}},
    {"NoTreeName", "NA", {}, 1, kPlain, "eng.A",
     {"1003 Warning The directory server {N} was skipped: it accepted the bind, but its tree "
      "name could not be read."}},
    {"OtherTree", "BA", {}, 1, kPlain, "eng.A",
     {"1004 Information The directory server {B} was not searched: it serves the tree B, not the "
      "tree the login asked for."}},
    // Twenty failing logins in one process: each event once.
    {"NoUsableServer", "C", {}, 20, kPlain, "",
     {"1001 Warning The directory server {C} was skipped: no connection could be made to it "
      "(LDAP Server is unavailable.).",
      "1010 Error No directory server could be used for a login, and the user was told so. The "
      "servers configured are: {C}."}},
    {"CacheNotWritable", "A", {{"UseCachedResults", 1}}, 1, kReadOnlyStore, "eng.A",
     {"1020 Error The results cache could not be written while creating the cache entry's key "
      "(error 5). Logins are looked up in the directory until it can be written."}},
    // "Search Timeout 0" as the text "7", "Certificate 0" as an expandable text.
    {"SettingOfTheWrongType", "A", {}, 1, kWrongTypes, "eng.A",
     {"1030 Warning The setting Certificate 0 in "
      "HKEY_LOCAL_MACHINE\\Software\\Tarvos\\LDAP\\Servers\\settings is stored as "
      "REG_EXPAND_SZ, not as its documented REG_SZ; it was read as a text of 1 character.",
      "1030 Warning The setting Search Timeout 0 in "
      "HKEY_LOCAL_MACHINE\\Software\\Tarvos\\LDAP\\Servers\\settings is stored as REG_SZ, not as "
      "its documented REG_DWORD; it was read as the number 55."}},
    {"SuccessFromTheServerThenTheCache", "A",
     {{"UseCachedResults", 1}, {"Log Successful Logins", 1}}, 2, kPlain, "eng.A",
     {"1100 Information A login was resolved to cn=asmith.ou=eng.o=A in the tree A (the "
      "directory server {HA}).",
      "1100 Information A login was resolved to cn=asmith.ou=eng.o=A in the tree A (the results "
      "cache)."}},
};

class LoginEventsTest : public HostedLoginTest {
 protected:
  void TearDown() override {
    platform::SetEnvironmentVariable("WENDREL_EVENT_LOG", "");
    platform::RemoveFile(path_);
    platform::ResetEventFloodControlForTesting();
    HostedLoginTest::TearDown();
  }

  ServerConfig Configured(char server) const {
    ServerConfig config = server == 'B' ? Plain(1) : server == 'N' ? Plain(2) : Plain(0);
    if (server == 'S') config = Silent();
    if (server == 'C') config = Closed();
    if (server == 'N') config.port = dir_.server(2).proxy_port;
    if (server == 'P') config.proxy_username = dir_.server(0).admin_dn;
    if (server == 'P') config.proxy_password = "wrong";
    return config;
  }

  std::string Expected(const EventCase& c) const {
    std::string text;
    for (const std::string& line : c.events) text += line + "\n";
    std::vector<std::pair<std::string, std::string>> values = {
        {"{HA}", dir_.server(0).host}, {"{DN}", dir_.server(0).admin_dn}};
    for (char server : std::string("ABSCN")) {
      const ServerConfig config = Configured(server);
      values.push_back({std::string("{") + server + "}",
                        config.host + ":" + std::to_string(config.port)});
    }
    for (const auto& value : values) {
      for (size_t at = text.find(value.first); at != std::string::npos;
           at = text.find(value.first, at + value.second.size())) {
        text.replace(at, value.first.size(), value.second);
      }
    }
    return text;
  }

  const std::string path_ = platform::TemporaryDirectory() + "/wendrel-login-events-" +
                            std::to_string(platform::CurrentProcessId());
};

TEST_F(LoginEventsTest, EachCaseWritesExactlyItsEvents) {
  namespace fs = std::filesystem;
  ASSERT_TRUE(dir_.Start({"A", "B", "A:fault=other@search"})) << dir_.error();
  platform::SetEnvironmentVariable("WENDREL_EVENT_LOG", path_);
  for (const EventCase& c : kEventCases) {
    SCOPED_TRACE(c.name);
    platform::RemoveFile(path_);
    platform::ResetEventFloodControlForTesting();
    DeleteTree(kOptionsKeyPath);
    DeleteTree(kCachedResultsKeyPath);
    std::vector<ServerConfig> servers;
    for (char server : c.servers) servers.push_back(Configured(server));
    ReplaceServers(servers);
    ConfigureTreeA(servers, c.options);
    if (c.setup == kWrongTypes) {
      SetString(kServerSettingsKeyPath, "Search Timeout 0", "7");
      SetRaw(kServerSettingsKeyPath, "Certificate 0", platform::kRegExpandSz, {'x', 0});
    }
    if (c.setup == kReadOnlyStore) {
      fs::permissions(store_path(), fs::perms::all, fs::perm_options::remove);
    }
    for (int i = 0; i < c.logins; ++i) {
      HostRecord record("asmith", "A");
      Login(record);
      if (i + 1 == c.logins) {
        EXPECT_EQ(record.Text(kStartInfoContext), c.context);
      }
    }
    if (c.setup == kReadOnlyStore) {
      fs::permissions(store_path(), fs::perms::owner_all, fs::perm_options::add);
    }
    std::ifstream log(path_, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), Expected(c));
  }
}
#endif  // _WIN32

}  // namespace
}  // namespace testing
}  // namespace wendrel
