// The system services of the port: loaded modules, threads and the trace.

#include <atomic>
#include <chrono>
#include <regex>
#include <vector>

#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/modules.h"
#include "platform/threads.h"
#include "platform/trace.h"

namespace wendrel {
namespace platform {
namespace {

#ifdef _WIN32
constexpr char kSystemModule[] = "kernel32.dll";
constexpr char kSystemSymbol[] = "GetTickCount";
constexpr char kUnloadedModule[] = "wldap32x.dll";
#else
constexpr char kSystemModule[] = "libc.so.6";
constexpr char kSystemSymbol[] = "strlen";
constexpr char kUnloadedModule[] = "libwendrel-not-loaded.so";
#endif

// Only what is loaded is found; a failed load says why; ownership moves and
// ends once, giving back only the own reference.
TEST(ModulesTest, FindLoadAndOwnership) {
  Module system = Module::FindLoaded(kSystemModule);
  ASSERT_TRUE(system.is_open());
  EXPECT_NE(system.Symbol(kSystemSymbol), nullptr);
  Module absent = Module::FindLoaded(kUnloadedModule);
  EXPECT_EQ((std::vector<void*>{nullptr, nullptr, nullptr}),
            (std::vector<void*>{system.Symbol("NoSuchSymbolAnywhere"), system.Symbol(nullptr),
                                absent.Symbol(kSystemSymbol)}));
  EXPECT_FALSE(absent.is_open());

  std::string error;
  EXPECT_FALSE(Module::Load("/nonexistent/dir/nothing-here.so", &error).is_open());
  EXPECT_NE(error.find("nothing-here"), std::string::npos) << error;
  Module loaded = Module::Load(kSystemModule, &error);
  ASSERT_TRUE(loaded.is_open()) << error;
  Module moved(std::move(loaded));
  EXPECT_EQ(std::make_pair(false, true), std::make_pair(loaded.is_open(), moved.is_open()));
  moved.Reset();
  EXPECT_EQ(std::make_pair(false, true),
            std::make_pair(moved.is_open(), Module::FindLoaded(kSystemModule).is_open()));
#ifdef _WIN32
  EXPECT_EQ(ModuleFileName("LGQZNT32"), "LGQZNT32.DLL");
#else
  EXPECT_EQ(ModuleFileName("LGQZNT32"), "libLGQZNT32.so");
  EXPECT_FALSE(IsWindows9xFamily());
#endif
}

struct Gate {
  std::atomic<int> release{0}, started{0}, finished{0};
};

uint32_t WaitAtGate(void* parameter) {
  auto* gate = static_cast<Gate*>(parameter);
  gate->started.store(1);
  while (gate->release.load() == 0) Sleep(5);
  gate->finished.store(1);
  return 7;
}

void WaitUntil(const std::atomic<int>& flag) {
  for (int i = 0; i < 1000 && flag.load() == 0; ++i) Sleep(5);
}

TEST(ThreadsTest, TimedJoinTimesOutThenSeesTheEnd) {
  Gate gate;
  uint32_t id = 0;
  ThreadOwner thread(CreateThread(WaitAtGate, &gate, &id));
  ASSERT_NE(thread.get(), nullptr);
  EXPECT_TRUE(id != 0 && id != CurrentThreadId()) << id;

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForThread(thread.get(), 100), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));

  gate.release.store(1);
  // An ended thread answers at once, as often as asked.
  EXPECT_EQ((std::vector<uint32_t>{kWaitObject0, 1, kWaitObject0, kWaitFailed}),
            (std::vector<uint32_t>{WaitForThread(thread.get(), 5000),
                                   static_cast<uint32_t>(gate.finished.load()),
                                   WaitForThread(thread.get(), 0), WaitForThread(nullptr, 10)}));
  EXPECT_FALSE(TerminateThread(nullptr, 0));
  CloseThreadHandle(nullptr);
  EXPECT_EQ(CreateThread(nullptr, nullptr, nullptr), nullptr);
}

TEST(ThreadsTest, ClosingTheHandleLeavesTheThreadRunning) {
  Gate gate;
  CloseThreadHandle(CreateThread(WaitAtGate, &gate, nullptr));
  WaitUntil(gate.started);
  gate.release.store(1);
  WaitUntil(gate.finished);
  EXPECT_EQ(gate.finished.load(), 1);
}

TEST(ThreadsTest, ForcedTerminationEndsOrAbandonsTheThread) {
  static Gate gate;  // outlives the test: an abandoned thread may still look
  gate.release = gate.started = gate.finished = 0;
  ThreadOwner thread(CreateThread(WaitAtGate, &gate, nullptr));
  ASSERT_NE(thread.get(), nullptr);
  WaitUntil(gate.started);
  bool ended = TerminateThread(thread.get(), 0);
#ifdef _WIN32
  // Really terminated: the thread is over and never reaches its end.
  EXPECT_TRUE(ended);
  EXPECT_EQ(WaitForThread(thread.get(), 5000), kWaitObject0);
  gate.release.store(1);
  Sleep(50);
  EXPECT_EQ(gate.finished.load(), 0);
#else
  // Abandoned: still running, and closing its handle frees nothing it uses.
  EXPECT_FALSE(ended);
  EXPECT_EQ(WaitForThread(thread.get(), 50), kWaitTimeout);
  thread.Reset();
  gate.release.store(1);
  WaitUntil(gate.finished);
  EXPECT_EQ(gate.finished.load(), 1);
#endif
}

TEST(ThreadsTest, SleepWaitsAtLeastAsLongAsAsked) {
  auto start = std::chrono::steady_clock::now();
  uint32_t before = TickCount();
  Sleep(60);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(59));
  // The tick count moves on too, in steps as coarse as the system's timer
  // (about 16 ms on Windows).
  EXPECT_GE(TickCount() - before, 40u);
}

// A message that ends its own line gets no second newline; long lines are
// cut to the limit and stay one line.
TEST(TraceTest, LineFormat) {
  const std::string fits(kMaxTraceLine - std::string("[Wendrel-1-2] ").size() - 1, 'm');
  const std::string cut = "[Wendrel-1-2] " + fits + "\n";
  EXPECT_EQ(1023u, kMaxTraceLine);
  EXPECT_EQ((std::vector<std::string>{"[Wendrel-1A2B-FF] hello\n", "[Wendrel-0-0] done\n",
                                      "[Wendrel-FFFFFFFF-ABCDEF01] \n", "[Wendrel-7-8] a\nb\n",
                                      cut, cut}),
            (std::vector<std::string>{FormatTraceLine(0x1A2B, 0xFF, "hello"),
                                      FormatTraceLine(0, 0, "done\n"),
                                      FormatTraceLine(0xFFFFFFFF, 0xABCDEF01, ""),
                                      FormatTraceLine(7, 8, "a\nb"), FormatTraceLine(1, 2, fits),
                                      FormatTraceLine(1, 2, std::string(5000, 'm'))}));
}

TEST(TraceTest, TracingNeverOverrunsWhateverTheMessage) {
  // Natively written only while WENDREL_TRACE is set, on Windows to the
  // debugger: either way safe far over the limit and with many arguments.
  const std::string big(10000, 'z');
  Trace("%s", big.c_str());
  Trace("%s %d %s %lu", big.c_str(), 42, big.c_str(), 7ul);
  Trace("no arguments");
}

#ifndef _WIN32
// Natively the trace goes to standard error while WENDREL_TRACE is set.
std::string CaptureTrace(const char* setting, const std::string& message) {
  SetEnvironmentVariable("WENDREL_TRACE", setting);
  ::testing::internal::CaptureStderr();
  Trace("%s #%d", message.c_str(), 7);
  const std::string out = ::testing::internal::GetCapturedStderr();
  SetEnvironmentVariable("WENDREL_TRACE", "");
  return out;
}

TEST(TraceTest, WritesOneLineToStandardErrorOnlyWhenEnabled) {
  const std::string line = CaptureTrace("1", "bind failed");
  const std::regex format(R"(\[Wendrel-[0-9A-F]+-[0-9A-F]+\] bind failed #7\n)");
  EXPECT_TRUE(std::regex_match(line, format)) << line;
  EXPECT_EQ("", CaptureTrace("", "quiet"));
  const std::string cut = CaptureTrace("1", std::string(3000, 'q'));
  EXPECT_EQ(std::make_pair(kMaxTraceLine, '\n'), std::make_pair(cut.size(), cut.back()));
}
#endif  // !_WIN32

}  // namespace
}  // namespace platform
}  // namespace wendrel
