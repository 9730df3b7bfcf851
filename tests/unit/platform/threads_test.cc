#include "platform/threads.h"

#include <atomic>
#include <chrono>
#include <cstdint>

#include "gtest/gtest.h"

namespace wendrel {
namespace platform {
namespace {

struct Gate {
  std::atomic<int> release{0};
  std::atomic<int> started{0};
  std::atomic<int> finished{0};
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
  EXPECT_NE(id, 0u);
  EXPECT_NE(id, CurrentThreadId());

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForThread(thread.get(), 100), kWaitTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));

  gate.release.store(1);
  EXPECT_EQ(WaitForThread(thread.get(), 5000), kWaitObject0);
  EXPECT_EQ(gate.finished.load(), 1);
  // An ended thread answers at once, as often as asked.
  EXPECT_EQ(WaitForThread(thread.get(), 0), kWaitObject0);
}

TEST(ThreadsTest, NullHandleAndNullProcedure) {
  EXPECT_EQ(WaitForThread(nullptr, 10), kWaitFailed);
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
  gate.release.store(0);
  gate.started.store(0);
  gate.finished.store(0);
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

}  // namespace
}  // namespace platform
}  // namespace wendrel
