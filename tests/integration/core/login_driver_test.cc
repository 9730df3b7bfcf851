// The login driver driven in-process as the login host drives it (the host
// double of host_double.h), against real slapd servers, for what a whole
// login through qzlogin cannot show: events before the start event, the
// search event's connectivity wait, terminate with TLS and the retry memory,
// a TLS client that cannot start, the cache entry a hit stores again, events
// sent from inside the modal loop of a box the driver shows, and logins
// while a server fails.

#include "core/login_driver.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "config/registry_paths.h"
#include "core/login_host.h"
#include "core/workers.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/registry.h"
#include "tests/integration/core/host_double.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace wendrel {
namespace testing {
namespace {

using LoginDriverTest = HostedLoginTest;

// Before event 0 the search events have no record to work on; every
// argument of an event reaches the host's handler.
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

// Treeless login writes the tree it found and clears the whole field before
// it, not only its first byte (which is all a whole login's report shows).
TEST_F(LoginDriverTest, TreelessLoginClearsTheWholeFieldBeforeTheTree) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  SetTrees({"A"});
  SetOptions({{"Treeless Login Enabled", 1}});
  HostRecord record("asmith", "");
  EXPECT_EQ(Login(record),
            (Outcome{"A", "asmith", "eng.A", "", kCallingModuleMark, {kNotifyResolved}, {}}));
  EXPECT_EQ(record.field24_buffer(), std::vector<char>(256, 0));
  EXPECT_EQ(StartUIRecord(), nullptr);  // the record carried no start-UI node
}

class LoginDriverEventsTest : public HostedLoginTest {
 protected:
  void TearDown() override {
    SetConnectivityPauseForTesting(kConnectivityPauseMs);
    platform::FailSslClientInitForTesting(false);
    HostedLoginTest::TearDown();
  }

  // A TLS server of tree A first, so that the search starts the TLS client,
  // and a plain one after it: under Wine the TLS server's certificate cannot
  // be verified, and the plain one answers.
  void StartTlsThenPlain() {
    ASSERT_TRUE(dir_.Start({"A:tls=good", "A"})) << dir_.error();
    ConfigureTreeA({Tls(0), Plain(1)});
    GetWorkerState().tls_initialized.store(0);
  }
};

// Event 102 waits, pass after pass of 1 s, until a server takes a bind, and
// only then searches.
TEST_F(LoginDriverEventsTest, SearchEventWaitsForAServerThenSearches) {
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
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(kEventSearch, record), 42);
  const double waited = SecondsSince(start);
  back.join();
  ASSERT_TRUE(restarted) << dir_.error();
  // Ended on the restart, well before its 35 passes would have run out
  // (after which the search would find the user too).
  EXPECT_GE(waited, 2.5);
  EXPECT_LT(waited, 25.0);
  EXPECT_EQ(Observe(record), Resolved("asmith", "eng.A"));
}

// With no server answering, the wait gives up after its 35 passes (each
// pause shortened here) and the search runs anyway, reporting its failure.
TEST_F(LoginDriverEventsTest, SearchEventGivesUpAfterItsPassesAndSearchesAnyway) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  ConfigureTreeA({Closed()});
  SetConnectivityPauseForTesting(60);
  HostRecord record("asmith", "A");
  Send(kEventStart, record);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Send(kEventSearch, record), 42);
  double waited = SecondsSince(start);
  EXPECT_GE(waited, kConnectivityPasses * 0.06);
  EXPECT_LT(waited, 20.0);
  EXPECT_EQ(Observe(record), Unresolved("asmith", {Composed("No LDAP server specified.")}));
}

// QZLG_TERMINATE shuts the TLS client down and forgets every server the
// retry memory holds; a login after it starts TLS again and is served.
TEST_F(LoginDriverEventsTest, TerminateEndsTlsAndLaterEventsAreStillServed) {
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

// A TLS client that cannot start: message 27 in the driver's stop box,
// nothing written; the next login tries the start again.
TEST_F(LoginDriverEventsTest, TlsClientThatCannotStartShowsMessage27) {
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

// A login answered from the cache alone (the server is stopped) stores the
// entry again: every value rewritten at its full 260 bytes.
TEST_F(LoginDriverEventsTest, CacheHitStoresItsEntryAgain) {
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

// The login prompt around the driver, for events the host sends while a
// box is up. On Windows a real top-level window stands for the prompt and
// the boxes are the system's own: a CBT hook sees each come up, and a timer
// message its modal loop delivers runs the action there before the box is
// answered with its first button. Natively the presenter is the modal loop.
class ModalLoopPrompt {
 public:
  // `inside` runs once, inside the modal loop of the first box shown.
  ModalLoopPrompt(RecordingPresenter& presenter, std::function<void()> inside);
  ~ModalLoopPrompt();

  int boxes_shown = 0;
  // Of the first box (Windows): whether the prompt owned it and was
  // disabled while it was up.
  bool owned_by_prompt = false, prompt_disabled = false;

 private:
  RecordingPresenter& presenter_;
  std::function<void()> inside_;
#ifdef _WIN32
  static ModalLoopPrompt* current_;
  static LRESULT CALLBACK CbtProc(int code, WPARAM wparam, LPARAM lparam);
  static void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD);

  platform::MessageBoxPresenter* previous_ = nullptr;
  HWND prompt_ = nullptr;
  HHOOK hook_ = nullptr;
  HWND box_ = nullptr;  // the box waiting for its answer
#endif
};

#ifdef _WIN32
ModalLoopPrompt* ModalLoopPrompt::current_ = nullptr;

ModalLoopPrompt::ModalLoopPrompt(RecordingPresenter& presenter, std::function<void()> inside)
    : presenter_(presenter), inside_(std::move(inside)) {
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
}

ModalLoopPrompt::~ModalLoopPrompt() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  current_ = nullptr;
  platform::SetMessageBoxPresenter(previous_);
  if (prompt_ != nullptr) DestroyWindow(prompt_);
}

LRESULT CALLBACK ModalLoopPrompt::CbtProc(int code, WPARAM wparam, LPARAM lparam) {
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

void CALLBACK ModalLoopPrompt::AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
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
#else
ModalLoopPrompt::ModalLoopPrompt(RecordingPresenter& presenter, std::function<void()> inside)
    : presenter_(presenter), inside_(std::move(inside)) {
  owned_by_prompt = prompt_disabled = true;  // the presenter stands for both
  presenter_.on_show = [this](const ShownBox&) {
    if (++boxes_shown == 1) inside_();
  };
}

ModalLoopPrompt::~ModalLoopPrompt() { presenter_.on_show = nullptr; }
#endif

// Events the host sends from inside the modal loop of a box the driver
// shows (the prompt behind it is disabled, but the host's messages still
// flow) are only passed on, and QZLG_TERMINATE is held until the outer
// event is over.
using LoginDriverReentryTest = HostedLoginTest;

TEST_F(LoginDriverReentryTest, EventsFromInsideABoxOnlyChainAndTerminateWaitsForTheOuterEvent) {
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

  // Each inner event went to the host's handler at once, in order, with its
  // result; the outer tab data after them.
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
  EXPECT_EQ(Login(later).context, "eng.A");
}

// A login while a directory server fails at a precise point of the exchange,
// and the next login in the same process: the fixture's fault proxy stands in
// front of a real slapd and kills it, freezes it, drops the connection, or
// answers with bytes that are not LDAP or with result code 80, exactly when
// the client sends a given request (the second search of a connection is the
// user search: the first reads the tree name). Each failed login ends with
// its message (or skips the server without one) within its bound, and the
// next login is served. Under Wine too: wldap32 meets the same faults.
struct Fault {
  const char* name;
  std::vector<std::string> servers;  // fixture specs; those with fault= are reached by the proxy
  int search_timeout;
  std::string message;  // of the failed login; empty: the login is served
  double at_least;      // seconds the failed login takes at least
};

const Fault kFaults[] = {
    {"ServerKilledAfterTheBindBeforeTheSearch", {"A:fault=kill@search#2"}, 20,
     "LDAP Server is unavailable.", 0},
    {"ServerFrozenMidSearchEndsAtTheSearchTimeLimit", {"A:fault=freeze@search#2"}, 2,
     "+Timeout exceeded while searching for user.", 1.9},
    {"ConnectionClosedByTheServerBeforeItsAnswer", {"A:fault=close@search#2"}, 20,
     "LDAP Server is unavailable.", 0},
    // The proxy forwards again after the bind, so the first server serves
    // the next login.
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
  const Outcome outcome = Login(first);
  const double took = SecondsSince(start);
  // A leading '+': the message comes composed with its prefix.
  const std::string message =
      fault.message[0] == '+' ? Composed(fault.message.substr(1)) : fault.message;
  EXPECT_EQ(outcome, message.empty() ? Resolved("asmith", "eng.A")
                                     : Unresolved("asmith", {message}));
  EXPECT_GE(took, fault.at_least);
  EXPECT_LT(took, 10.0);
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
// Natively a start-up worker that outlives terminate's wait cannot be
// ended: it goes on to the end of its bind, and what it then reports must
// not refill the retry memory that terminate cleared.
class TerminateRetryMemoryTest : public HostedLoginTest {
 protected:
  void TearDown() override {
    SetWorkerStopTimeoutForTesting(kWorkerStopTimeoutMs);
    HostedLoginTest::TearDown();
  }
};

TEST_F(TerminateRetryMemoryTest, WorkerStillBindingAfterTerminateRemembersNothing) {
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
#endif  // _WIN32

}  // namespace
}  // namespace testing
}  // namespace wendrel
