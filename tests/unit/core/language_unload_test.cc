// The language module at unload: one that no QZLG_TERMINATE released is left
// loaded when the application object goes (the library is being unloaded
// then, and FreeLibrary has no place there); the library's resource module
// still names it.

#include <string>

#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/wendrel_app.h"
#include "gtest/gtest.h"
#include "platform/environment.h"
#include "platform/framework/app.h"
#include "platform/modules.h"
#include "platform/resources.h"
#include "standins/resource_language.h"
#include "tests/unit/support/registry_fixture.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace testing {
namespace {

class LanguageUnloadTest : public RegistryTest {
 protected:
  void TearDown() override {
    platform::SetEnvironmentVariable(kLanguageModuleVariable, "");
#ifndef _WIN32
    platform::RemoveFile(path_);
#endif
    RegistryTest::TearDown();
  }
  std::string path_;
};

TEST_F(LanguageUnloadTest, AModuleStillLoadedAtUnloadIsNotFreed) {
#ifdef _WIN32
  // Found beside the test program by the loader's search.
  path_ = "wendrel_test_language.dll";
#else
  path_ = WriteLanguageFile("unload-language", "9999\tSprache\n");
#endif
  platform::SetEnvironmentVariable(kLanguageModuleVariable, path_);
  ResetLoginDriverForTesting();
  platform::ResourceModule module = nullptr;
  {
    CWendrelApp app;  // no options key: passive, but it keeps the language module
    LoginExtCallback(nullptr, kEventStart, 0, 0, nullptr, 0, 0);
    module = app.language_module();
    ASSERT_NE(module, nullptr);
    app.ExitInstance();
  }  // the unload ends here, without QZLG_TERMINATE
  const bool kept = AfxGetStaticModuleState()->resource_module == module;
  EXPECT_TRUE(kept) << "the language module was released at unload";
#ifdef _WIN32
  EXPECT_TRUE(platform::Module::FindLoaded(path_).is_open());
#endif

  // Released here, once, as the end of the process would.
  if (!kept) return;
  {
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    AfxSetResourceHandle(nullptr);
  }
  platform::FreeLanguageModule(module);
}

}  // namespace
}  // namespace testing
}  // namespace wendrel
