#include "platform/framework/app.h"

#include <stdexcept>

#include "gtest/gtest.h"

namespace wendrel {
namespace {

TEST(AppTest, ManageStateSwitchesAndRestoresOnEveryWayOut) {
  platform::ResourceModule caller = platform::CurrentResourceModule();
  int marker = 0;
  AfxModuleState library;
  library.resource_module = &marker;

  {
    AFX_MANAGE_STATE(&library);
    EXPECT_EQ(AfxGetModuleState(), &library);
    EXPECT_EQ(platform::CurrentResourceModule(), &marker);
    // A change made inside stays with the library's state.
    AfxSetResourceHandle(nullptr);
    EXPECT_EQ(library.resource_module, nullptr);
    AfxSetResourceHandle(&marker);
  }
  EXPECT_EQ(AfxGetModuleState(), AfxGetStaticModuleState());
  EXPECT_EQ(platform::CurrentResourceModule(), caller);

  try {
    AFX_MANAGE_STATE(&library);
    throw std::runtime_error("leaving by exception");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(platform::CurrentResourceModule(), caller);
  EXPECT_EQ(AfxGetModuleState(), AfxGetStaticModuleState());
}

class CountingApp : public CWinApp {
 public:
  int InitInstance() override { ++inits; return CWinApp::InitInstance(); }
  int ExitInstance() override { ++exits; return CWinApp::ExitInstance(); }
  int inits = 0;
  int exits = 0;
};

TEST(AppTest, TheApplicationObjectIsKnownWhileItLives) {
  {
    CountingApp app;
    EXPECT_EQ(AfxGetApp(), &app);
    EXPECT_EQ(AfxGetApp()->InitInstance(), 1);
    EXPECT_EQ(AfxGetApp()->ExitInstance(), 0);
    EXPECT_EQ(app.inits, 1);
    EXPECT_EQ(app.exits, 1);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
}

}  // namespace
}  // namespace wendrel
