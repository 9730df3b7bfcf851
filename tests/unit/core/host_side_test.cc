// The driver's side of the login host: the text fields of the start-info
// record, and the language module of the start event.

#include <cstring>
#include <vector>

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

// Writing back never runs past a buffer whatever its size, and reading stops
// at the buffer's end when the host left no terminator.
class HostTextTest : public ::testing::Test {
 protected:
  // The user field: a `size`-byte buffer between guard bytes.
  void Attach(int32_t size) {
    block_.assign(static_cast<size_t>(size) + 16, '#');
    StoreText(record_.data(), kStartInfoUser, HostText{size, block_.data() + 8});
  }
  std::string Buffer(size_t n) const { return std::string(block_.data() + 8, n); }
  bool GuardsIntact(int32_t size) const {
    for (size_t i = 0; i < 8; ++i) {
      if (block_[i] != '#' || block_[8 + static_cast<size_t>(size) + i] != '#') return false;
    }
    return true;
  }

  std::vector<unsigned char> record_ = std::vector<unsigned char>(kStartInfoSize, 0);
  std::vector<char> block_;
};

// Writes are cut with a terminator and zero-filled; a field without room
// (size 0 or negative, no buffer) is left alone and reads empty.
TEST_F(HostTextTest, WritesAreCutWithATerminatorAndZeroFilled) {
  const struct {
    int32_t size;
    const char* text;
    std::string buffer, read;
  } cases[] = {{8, "abc", std::string("abc\0\0\0\0\0", 8), "abc"},
               {8, "0123456789", std::string("0123456\0", 8), "0123456"},
               {1, "x", std::string(1, '\0'), ""}, {0, "abc", "", ""}};
  for (const auto& c : cases) {
    Attach(c.size);
    WriteHostText(record_.data(), kStartInfoUser, c.text);
    EXPECT_EQ(std::make_pair(c.buffer, c.read),
              std::make_pair(Buffer(c.buffer.size()), ReadHostText(record_.data(), kStartInfoUser)))
        << c.size << " " << c.text;
    EXPECT_TRUE(GuardsIntact(c.size)) << c.size;
  }
  for (const HostText& field : {HostText{-5, block_.data()}, HostText{64, nullptr}}) {
    StoreText(record_.data(), kStartInfoUser, field);
    WriteHostText(record_.data(), kStartInfoUser, "abc");
    EXPECT_EQ("", ReadHostText(record_.data(), kStartInfoUser)) << field.size;
  }
  EXPECT_EQ("", ReadHostText(nullptr, kStartInfoUser));
  // An unterminated buffer is read to its end only.
  Attach(4);
  std::memcpy(block_.data() + 8, "wxyz", 4);
  EXPECT_EQ("wxyz", ReadHostText(record_.data(), kStartInfoUser));
}

// The stand-in's chosen module is the library's resource module from event 0
// and released once at event 18; none leaves the own texts. One no
// QZLG_TERMINATE released stays loaded at unload (no FreeLibrary there).
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
  // The caller's resource module is back once the event is over.
  EXPECT_EQ(std::make_pair(module, platform::ResourceModule{nullptr}),
            std::make_pair(AfxGetStaticModuleState()->resource_module,
                           platform::CurrentResourceModule()));
  {
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    EXPECT_EQ(platform::LoadResourceString(9999), "Sprache");
  }
  // A second start keeps the module it has.
  Send(kEventStart);
  EXPECT_EQ(app.language_module(), module);

  Send(kEventTerminate);
  EXPECT_TRUE(app.language_module() == nullptr &&
              AfxGetStaticModuleState()->resource_module == nullptr);
  Send(kEventTerminate);  // nothing left to release
}

TEST_F(LanguageModuleTest, NoModuleLeavesTheLibrarysOwnTexts) {
  Choose("/nonexistent/language.txt");
  CWendrelApp app;
  Send(kEventStart);
  EXPECT_TRUE(app.language_module() == nullptr &&
              AfxGetStaticModuleState()->resource_module == nullptr);
  Send(kEventTerminate);
}
#endif  // !_WIN32

}  // namespace
}  // namespace testing
}  // namespace wendrel
