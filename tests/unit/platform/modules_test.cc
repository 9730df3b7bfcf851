#include "platform/modules.h"

#include <string>

#include "gtest/gtest.h"

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

TEST(ModulesTest, FindsOnlyWhatIsLoaded) {
  Module system = Module::FindLoaded(kSystemModule);
  ASSERT_TRUE(system.is_open());
  EXPECT_NE(system.Symbol(kSystemSymbol), nullptr);
  EXPECT_EQ(system.Symbol("NoSuchSymbolAnywhere"), nullptr);
  EXPECT_EQ(system.Symbol(nullptr), nullptr);

  Module absent = Module::FindLoaded(kUnloadedModule);
  EXPECT_FALSE(absent.is_open());
  EXPECT_EQ(absent.Symbol(kSystemSymbol), nullptr);
}

TEST(ModulesTest, LoadFailureSaysWhy) {
  std::string error;
  Module missing = Module::Load("/nonexistent/dir/nothing-here.so", &error);
  EXPECT_FALSE(missing.is_open());
  EXPECT_NE(error.find("nothing-here"), std::string::npos) << error;
}

TEST(ModulesTest, OwnershipMovesAndEndsOnce) {
  std::string error;
  Module loaded = Module::Load(kSystemModule, &error);
  ASSERT_TRUE(loaded.is_open()) << error;
  Module moved(std::move(loaded));
  EXPECT_FALSE(loaded.is_open());
  EXPECT_TRUE(moved.is_open());
  moved.Reset();
  EXPECT_FALSE(moved.is_open());
  // The system module is still there: only our own reference was given back.
  EXPECT_TRUE(Module::FindLoaded(kSystemModule).is_open());
}

TEST(ModulesTest, FileNamesFollowTheSystem) {
#ifdef _WIN32
  EXPECT_EQ(ModuleFileName("LGQZNT32"), "LGQZNT32.DLL");
#else
  EXPECT_EQ(ModuleFileName("LGQZNT32"), "libLGQZNT32.so");
  EXPECT_FALSE(IsWindows9xFamily());
#endif
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
