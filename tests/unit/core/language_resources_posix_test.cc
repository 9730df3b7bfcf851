// The language resources of the start event and QZLG_TERMINATE: the module
// chosen by the resource-language stand-in becomes the library's resource
// module at event 0 and is released exactly once at event 18; none leaves the
// library's own texts in use.

#include <string>

#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/wendrel_app.h"
#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/framework/app.h"
#include "platform/resources.h"
#include "standins/resource_language.h"
#include "tests/unit/support/registry_fixture.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace testing {
namespace {

class LanguageResourcesTest : public RegistryTest {
 protected:
  void TearDown() override {
    platform::SetEnvironmentVariable(kLanguageModuleVariable, "");
    platform::RemoveFile(path_);
    RegistryTest::TearDown();
  }
  int32_t Send(uint32_t event) { return LoginExtCallback(nullptr, event, 0, 0, nullptr, 0, 0); }
  std::string path_;
};

TEST_F(LanguageResourcesTest, LoadedAtStartReleasedOnceAtTerminate) {
  path_ = WriteLanguageFile("driver-language", "9999\tSprache\n");
  platform::SetEnvironmentVariable(kLanguageModuleVariable, path_);
  ResetLoginDriverForTesting();
  CWendrelApp app;  // no options key: passive, but it keeps the language module
  EXPECT_EQ(Send(kEventStart), 0);
  platform::ResourceModule module = app.language_module();
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(AfxGetStaticModuleState()->resource_module, module);
  // The caller's resource module is back once the event is over.
  EXPECT_EQ(platform::CurrentResourceModule(), nullptr);
  {
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    EXPECT_EQ(platform::LoadResourceString(9999), "Sprache");
  }
  // A second start keeps the module it has.
  Send(kEventStart);
  EXPECT_EQ(app.language_module(), module);

  Send(kEventTerminate);
  EXPECT_EQ(app.language_module(), nullptr);
  EXPECT_EQ(AfxGetStaticModuleState()->resource_module, nullptr);
  Send(kEventTerminate);  // nothing left to release
}

TEST_F(LanguageResourcesTest, NoModuleLeavesTheLibrarysOwnTexts) {
  platform::SetEnvironmentVariable(kLanguageModuleVariable, "/nonexistent/language.txt");
  ResetLoginDriverForTesting();
  CWendrelApp app;
  Send(kEventStart);
  EXPECT_EQ(app.language_module(), nullptr);
  EXPECT_EQ(AfxGetStaticModuleState()->resource_module, nullptr);
  Send(kEventTerminate);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
