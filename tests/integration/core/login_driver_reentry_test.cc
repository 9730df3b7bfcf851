// Events the host sends from inside the modal loop of a box the driver shows
// (the login prompt behind it is disabled, but the host's messages still
// flow): they are only passed on, and QZLG_TERMINATE is held until the outer
// event is over. On Windows the box is the system's own, owned by the
// prompt's window, which it disables.

#include <cstdint>
#include <vector>

#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/worker_state.h"
#include "gtest/gtest.h"
#include "tests/integration/core/host_double.h"
#include "tests/integration/core/modal_loop.h"

namespace wendrel {
namespace testing {
namespace {

class LoginDriverReentryTest : public HostedLoginTest {};

TEST_F(LoginDriverReentryTest, EventsFromInsideABoxOnlyChainAndTerminateWaitsForTheOuterEvent) {
  ASSERT_TRUE(dir_.Start({"A"})) << dir_.error();
  SetServers({Plain(0)});
  SetTrees({"A"});
  SetOptions({{"Contextless Login Enabled", 1}});
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
      inner_results.push_back(Send(kEventStart, other));
      inner_results.push_back(Send(kEventTabData, other));
      inner_results.push_back(Send(kEventTerminate, other));
      stop_requested_inside = GetWorkerState().stop_requested.load();
    });
    EXPECT_EQ(Send(kEventTabData, record), 42);
    EXPECT_EQ(prompt.boxes_shown(), 1);  // the inner tab data searched nothing
#ifdef _WIN32
    EXPECT_TRUE(prompt.owned_by_prompt());
    EXPECT_TRUE(prompt.prompt_disabled());
#endif
  }

  // Each inner event went to the host's handler at once, in order, and its
  // result came back.
  EXPECT_EQ(inner_results, std::vector<int32_t>({42, 42, 42}));
  ASSERT_EQ(g_chained.size(), chained_before_inner + 4);
  EXPECT_EQ(g_chained[chained_before_inner].event, kEventStart);
  EXPECT_EQ(g_chained[chained_before_inner + 1].event, kEventTabData);
  EXPECT_EQ(g_chained[chained_before_inner + 2].event, kEventTerminate);
  EXPECT_EQ(g_chained[chained_before_inner + 3].event, kEventTabData);  // the outer one
  // The inner start did not replace the record, and nothing was resolved.
  EXPECT_EQ(StartInfoRecord(), record.data());
  EXPECT_EQ(other.Text(kStartInfoContext), "");
  EXPECT_TRUE(g_notified.empty());
  // Terminate was held while the outer search was still on, and handled
  // once it was over.
  EXPECT_EQ(stop_requested_inside, 0);
  EXPECT_EQ(GetWorkerState().stop_requested.load(), 1);

  // Afterwards events are handled again.
  HostRecord later("asmith", "A");
  Send(kEventStart, later);
  Send(kEventTabData, later);
  EXPECT_EQ(later.Text(kStartInfoContext), "eng.A");
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
