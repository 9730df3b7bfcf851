// The extension library as a host loads it: it loads and unloads cleanly
// without a login host in the process (it then registers nothing and starts
// no worker), and it exports its two registration entry points and nothing
// of its own code.

#include <string>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/modules.h"
#include "tests/unit/support/registry_fixture.h"

namespace wendrel {
namespace testing {
namespace {

using ExtensionLibraryTest = RegistryTest;

TEST_F(ExtensionLibraryTest, LoadsWithoutAHostAndExportsOnlyRegistration) {
  SetDword(kOptionsKeyPath, "Contextless Login Enabled", 1);
  for (int round = 0; round < 2; ++round) {
    std::string error;
    platform::Module library = platform::Module::Load(WENDREL_EXTENSION_PATH, &error);
    ASSERT_TRUE(library.is_open()) << error;
    EXPECT_NE(library.Symbol("DllRegisterServer"), nullptr);
    EXPECT_NE(library.Symbol("DllUnregisterServer"), nullptr);
    // The extension's own functions and the static libraries' stay inside.
    EXPECT_EQ(library.Symbol("_ZN7wendrel14GetWorkerStateEv"), nullptr);
    EXPECT_EQ(library.Symbol("_ZN7wendrel16LoginExtCallbackEPvjjjS0_mj"), nullptr);
    EXPECT_EQ(library.Symbol("LoginExtCallback"), nullptr);
    EXPECT_EQ(library.Symbol("_ZN7wendrel8platform9TickCountEv"), nullptr);
    EXPECT_EQ(platform::Module::FindLoaded(platform::ModuleFileName("LGQZNT32")).is_open(),
              false);
  }
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
