// The language module of the start event, QZLG_TERMINATE and unload: the
// module chosen by the resource-language stand-in becomes the library's
// resource module at event 0 and is released exactly once at event 18; none
// leaves the library's own texts in use. One that no QZLG_TERMINATE released
// is left loaded when the application object goes (the library is being
// unloaded then, and FreeLibrary has no place there).

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

class LanguageModuleTest : public RegistryTest {
 protected:
  void TearDown() override {
    platform::SetEnvironmentVariable(kLanguageModuleVariable, "");
#ifndef _WIN32
    platform::RemoveFile(path_);
#endif
    RegistryTest::TearDown();
  }
  // Chooses the module at `path` (natively a language file of `contents`).
  void Choose(const std::string& path, const std::string& contents = "") {
#ifdef _WIN32
    path_ = path;
#else
    path_ = contents.empty() ? path : WriteLanguageFile(path, contents);
#endif
    platform::SetEnvironmentVariable(kLanguageModuleVariable, path_);
    ResetLoginDriverForTesting();
  }
  static int32_t Send(uint32_t event) {
    return LoginExtCallback(nullptr, event, 0, 0, nullptr, 0, 0);
  }
  std::string path_;
};

TEST_F(LanguageModuleTest, AModuleStillLoadedAtUnloadIsNotFreed) {
  // On Windows found beside the test program by the loader's search.
  Choose(
#ifdef _WIN32
      "wendrel_test_language.dll",
#else
      "unload-language",
#endif
      "9999\tSprache\n");
  platform::ResourceModule module = nullptr;
  {
    CWendrelApp app;  // no options key: passive, but it keeps the language module
    Send(kEventStart);
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

#ifndef _WIN32
TEST_F(LanguageModuleTest, LoadedAtStartReleasedOnceAtTerminate) {
  Choose("driver-language", "9999\tSprache\n");
  CWendrelApp app;
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

TEST_F(LanguageModuleTest, NoModuleLeavesTheLibrarysOwnTexts) {
  Choose("/nonexistent/language.txt");
  CWendrelApp app;
  Send(kEventStart);
  EXPECT_EQ(app.language_module(), nullptr);
  EXPECT_EQ(AfxGetStaticModuleState()->resource_module, nullptr);
  Send(kEventTerminate);
}
#endif  // !_WIN32

}  // namespace
}  // namespace testing
}  // namespace wendrel
