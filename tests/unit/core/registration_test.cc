// Registration: the registrar script's parser, the script resource, and
// RegisterServer/UnregisterServer against the registry of each build.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "core/registrar.h"
#include "core/registrar_script.h"
#include "core/self_registration.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "tests/unit/support/registry_fixture.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace {

std::string ErrorOf(const std::string& text) {
  RegistrationScript script;
  std::string error;
  EXPECT_FALSE(ParseRegistrationScript(text, &script, &error)) << text;
  EXPECT_TRUE(script.keys.empty());
  return error;
}

// A key as text: name{value=type:hex bytes;...subkeys}.
std::string Dump(const ScriptKey& key) {
  std::string text = key.name + "{";
  for (const ScriptValue& value : key.values) {
    text += value.name + "=" + std::to_string(value.type) + ":";
    for (uint8_t b : value.data) {
      text += "0123456789abcdef"[b >> 4];
      text += "0123456789abcdef"[b & 15];
    }
    text += ";";
  }
  for (const ScriptKey& subkey : key.subkeys) text += Dump(subkey);
  return text + "}";
}

TEST(RegistrarScriptTest, ParsesNestedKeysQuotedNamesAndTheThreeTypes) {
  const std::string text =
      "HKEY_LOCAL_MACHINE\r\n{\r\n  Software\r\n  {\r\n    'Two Words'\r\n    {\r\n"
      "      val Plain = s 'it''s 100%% done'\r\n"
      "      val 'Quoted Name' = d '32769'\r\n"
      "      VAL Hex = D 0xFFFFFFFF\r\n"
      "      val Bytes = b '00a0FF'\r\n"
      "    }\r\n    Empty\r\n  }\r\n}\r\nhklm { Second }";
  RegistrationScript script;
  std::string error;
  ASSERT_TRUE(ParseRegistrationScript(text, &script, &error)) << error;
  std::string keys;
  for (const ScriptKey& key : script.keys) keys += Dump(key);
  // "it's 100% done" with its zero; 32769 and 0xFFFFFFFF as little-endian.
  EXPECT_EQ("Software{Two Words{Plain=1:69742773203130302520646f6e6500;Quoted Name=4:01800000;"
            "Hex=4:ffffffff;Bytes=3:00a0ff;}Empty{}}Second{}",
            keys);
}

TEST(RegistrarScriptTest, RefusesWhatItDoesNotUnderstandWithTheLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"HKCR { A }", "line 1: root key HKCR is not supported: only HKLM (HKEY_LOCAL_MACHINE) is"},
      {"Software { }", "line 1: expected a root key (HKLM), found 'Software'"},
      {"HKLM {\n noremove A }", "line 2: the marker NoRemove is not supported"},
      {"HKLM { ForceRemove A }", "line 1: the marker ForceRemove is not supported"},
      {"HKLM { Delete A }", "line 1: the marker Delete is not supported"},
      {"HKLM { A = s 'x' }", "line 1: a key's default value is not supported (key 'A')"},
      {"HKLM {\r\nA {\r\nval V = m 'x' } }",
       "line 3: value type 'm' is not supported (s, d and b are) after value name 'V'"},
      {"HKLM { A { val V = s '%MODULE%' } }",
       "line 1: replacement variables are not supported (write a percent sign as %%): %MODULE%"},
      {"HKLM { val V = s 'x' }", "line 1: values cannot be set directly under HKLM"},
      {"HKLM { 'A\\B' }",
       "line 1: key name 'A\\B' contains a backslash: nest the keys in braces instead"},
      {"HKLM { '' }", "line 1: a key name is empty"},
      {"HKLM { A { val V = b 'ABC' } }", "line 1: binary data 'ABC' has an odd number of digits"},
      {"HKLM { A { val V = b zz } }", "line 1: binary data 'zz' is not hexadecimal digit pairs"},
      {"HKLM {\n A { val V = s 'open } }", "line 2: a quoted text is not closed"},
      {"HKLM { A { } ", "line 1: expected '}' before the end of the script"},
      {"HKLM", "line 1: expected '{' after HKLM before the end of the script"},
      {"HKLM { A { val V s 'x' } }", "line 1: expected '=' after value name 'V', found 's'"},
      {"HKLM { A { val V = s } }", "line 1: expected the data of value 'V', found '}'"},
      {"HKLM { { } }", "line 1: a block must follow a key name"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, ErrorOf(c.first));
  for (const char* bad : {"'4294967296'", "'-1'", "'12a'", "''", "'0x'", "'0x1G'"}) {
    EXPECT_NE(std::string::npos,
              ErrorOf(std::string("HKLM { A { val V = d ") + bad + " } }")
                  .find("is not a 32-bit number"))
        << bad;
  }
  // Nesting is bounded, so hostile input cannot exhaust the stack.
  std::string deep = "HKLM ";
  for (int i = 0; i < 100000; ++i) deep += "{ K ";
  EXPECT_NE(std::string::npos, ErrorOf(deep).find("nested deeper than 32"));
  EXPECT_NE(std::string::npos, ErrorOf("HKLM { " + std::string(256, 'k') + " }")
                                   .find("longer than 255"));

  // An empty script names nothing and is no error.
  RegistrationScript script;
  std::string error;
  EXPECT_TRUE(ParseRegistrationScript(" \r\n\t", &script, &error));
  EXPECT_TRUE(script.keys.empty());
}

using platform::RegKey;

constexpr char kExtensionKey[] = "Software\\Tarvos\\Graphical Login\\QZLGE\\LDAP Contextless";
constexpr char kQzlgeKey[] = "Software\\Tarvos\\Graphical Login\\QZLGE";
constexpr char kGraphicalLoginKey[] = "Software\\Tarvos\\Graphical Login";
constexpr char kTarvosKey[] = "Software\\Tarvos";
constexpr char kOtherExtension[] = "Software\\Tarvos\\Graphical Login\\QZLGE\\Other Extension";
constexpr char kServers[] = "Software\\Tarvos\\LDAP\\Servers";

using testing::Dword;
using testing::ReadStored;
using testing::RegKeyExists;
using testing::Sz;
using Values = std::map<std::string, testing::StoredValue>;

class SelfRegistrationTest : public testing::RegistryTest {
 protected:
  // The extension key's values, past those the registration writes.
  static void ExpectRegistered(Values more = {}) {
    // The name stays unexpanded: the login host expands it.
    more.insert({{"LoginExtDesc", Sz("Tarvos LDAP Contextless Login")},
                 {"LoginExtName", Sz("%ProgramFiles%\\Tarvos\\Client\\wendrel.dll")},
                 {"LoginExtType", Dword(0x8001)}});
    RegKey key;
    key.Open(RegKey::LocalMachine(), kExtensionKey, platform::kKeyRead);
    EXPECT_EQ(more, testing::ReadAllValues(key));
    EXPECT_EQ(0u, testing::RegCounts(key).first);
  }
};

TEST(RegistrationScriptResourceTest, LoadsByteForByteAsTheSourceFile) {
  std::ifstream file(WENDREL_SOURCE_DIR "/resources/wendrel.rgs", std::ios::binary);
  ASSERT_TRUE(file) << "cannot read the script source";
  const std::vector<uint8_t> source((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
  std::vector<uint8_t> loaded;
  ASSERT_EQ(0, platform::LoadCustomResource(nullptr, kRegistrationScriptType,
                                            kRegistrationScriptId, &loaded));
  EXPECT_EQ(source, loaded);
  // CR LF line ends, and no bare LF, survive both resource compilers.
  const std::string text(loaded.begin(), loaded.end());
  size_t bare = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    bare += text[i] == '\n' && (i == 0 || text[i - 1] != '\r');
  }
  EXPECT_EQ(std::make_pair(text.size() - 2, size_t{0}), std::make_pair(text.rfind("\r\n"), bare));
  // Type names compare without case, as Windows does.
  EXPECT_EQ(0, platform::LoadCustomResource(nullptr, "registry", kRegistrationScriptId, &loaded));

  EXPECT_EQ(platform::kResourceNameNotFound,
            platform::LoadCustomResource(nullptr, kRegistrationScriptType, 9003, &loaded));
  EXPECT_TRUE(loaded.empty());
  EXPECT_EQ(platform::kResourceTypeNotFound,
            platform::LoadCustomResource(nullptr, "NOSUCHTYPE", kRegistrationScriptId, &loaded));

  RegistrationScript script;
  std::string error;
  EXPECT_EQ(kSOk, LoadRegistrationScript(ModuleInstance(), &script, &error)) << error;
  ASSERT_EQ(1u, script.keys.size());
  EXPECT_EQ("Software", script.keys[0].name);
}

TEST_F(SelfRegistrationTest, RegisterWritesTheValuesAndTwiceLeavesOneKey) {
  ASSERT_EQ(kSOk, RegisterServer());
  ExpectRegistered();
  // Options the administrator set meanwhile survive a second registration.
  SetDword(kExtensionKey, "Contextless Login Enabled", 1);
  ASSERT_EQ(kSOk, RegisterServer());
  ExpectRegistered({{"Contextless Login Enabled", Dword(1)}});
  EXPECT_EQ(std::make_pair(1u, 0u), testing::RegCounts(kQzlgeKey));
}

TEST_F(SelfRegistrationTest, RemovalDeletesTheKeyWithOptionsAndTheEmptyKeysAbove) {
  CreateKey("Software\\Other Vendor");  // as on every installed system
  EXPECT_EQ(kSOk, UnregisterServer());     // nothing registered yet: nothing made
  EXPECT_FALSE(RegKeyExists(kTarvosKey));
  ASSERT_EQ(kSOk, RegisterServer());
  SetDword(kExtensionKey, "Contextless Login Enabled", 1);
  SetString(kExtensionKey, "Search Full Name", "yes");
  SetString(kQzlgeKey, "Left Here", "by an installer");
  SetDword(kTarvosKey, "Version", 8);

  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_EQ((std::vector<bool>{false, false, false, false, true}),
            (std::vector<bool>{RegKeyExists(kExtensionKey), RegKeyExists(kQzlgeKey),
                               RegKeyExists(kGraphicalLoginKey), RegKeyExists(kTarvosKey),
                               RegKeyExists("Software\\Other Vendor")}));
  EXPECT_EQ(kSOk, UnregisterServer());  // again, with nothing left to remove
}

TEST_F(SelfRegistrationTest, RemovalKeepsKeysThatStillHaveOtherSubkeys) {
  ASSERT_EQ(kSOk, RegisterServer());
  SetString(kOtherExtension, "LoginExtDesc", "someone else");
  SetString(kQzlgeKey, "Shared", "kept");
  SetDword(kServers, "0", 1);

  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_EQ(std::make_tuple(false, Sz("someone else"), Sz("kept"), true),
            std::make_tuple(RegKeyExists(kExtensionKey),
                            ReadStored(kOtherExtension, "LoginExtDesc"),
                            ReadStored(kQzlgeKey, "Shared"), RegKeyExists(kGraphicalLoginKey)));
  // Removal of what is not registered (any more) changes nothing.
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_EQ(Sz("someone else"), ReadStored(kOtherExtension, "LoginExtDesc"));

  // Without the other extension, QZLGE and Graphical Login go, but Tarvos keeps
  // the server list.
  DeleteTree(kOtherExtension);
  ASSERT_EQ(kSOk, RegisterServer());
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_EQ(std::make_tuple(false, true, Dword(1)),
            std::make_tuple(RegKeyExists(kGraphicalLoginKey), RegKeyExists(kTarvosKey),
                            ReadStored(kServers, "0")));
}

// A library whose script cannot be loaded (here a language module) removes
// nothing yet reports success; registration reports the failure.
TEST_F(SelfRegistrationTest, RemovalWithoutALoadableScriptStillSucceeds) {
  ASSERT_EQ(kSOk, RegisterServer());
  testing::ScopedTestLanguage language;
  ASSERT_TRUE(language.loaded()) << language.error();
  SaveModuleInstance(language.module());
  const int32_t removal = UnregisterServer();
  const int32_t registration = RegisterServer();
  SaveModuleInstance(nullptr);
  EXPECT_EQ(kSOk, removal);
  EXPECT_NE(kSOk, registration);
  ExpectRegistered();
}

TEST_F(SelfRegistrationTest, AFailureHalfWayIsUndone) {
  // The overlong key name is refused only after the keys above it and their
  // values were written.
  CreateKey("Software\\Other Vendor");
  ScriptKey partial{"Partial", {{"Written", platform::kRegSz, testing::SzBytes("first")}}, {}};
  ScriptKey too_long{std::string(300, 'k'), {}, {}};
  ScriptKey tarvos{"Tarvos", {}, {partial, too_long}};
  RegistrationScript script;
  script.keys.push_back(ScriptKey{"Software", {}, {tarvos}});

  const int32_t status = RegisterScript(script);
  EXPECT_NE(kSOk, status);
  EXPECT_EQ(0x80070000u, static_cast<uint32_t>(status) & 0xFFFF0000u) << std::hex << status;
  EXPECT_EQ(std::make_pair(false, true),
            std::make_pair(RegKeyExists(kTarvosKey), RegKeyExists("Software\\Other Vendor")));
}

#ifndef _WIN32
// A store file without write permission stands for an HKLM the caller may not
// write (Wine's registry grants the test programs every right).
TEST_F(SelfRegistrationTest, WithoutWriteAccessFailsWithAccessDeniedAndLeavesNothing) {
  namespace fs = std::filesystem;
  SetDword(kServers, "0", 1);
  fs::permissions(store_path(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(static_cast<int32_t>(0x80070005u), RegisterServer());
  EXPECT_EQ(std::make_pair(false, true),
            std::make_pair(RegKeyExists(kGraphicalLoginKey), RegKeyExists(kServers)));

  // Removal cannot delete anything either, and still reports success.
  fs::permissions(store_path(), fs::perms::owner_write, fs::perm_options::add);
  SetString(kQzlgeKey, "Kept", "yes");
  fs::permissions(store_path(), fs::perms::owner_read | fs::perms::group_read);
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_TRUE(RegKeyExists(kQzlgeKey));
  fs::permissions(store_path(), fs::perms::owner_write, fs::perm_options::add);
}

// In a store of nothing else only the root stays; removal creates no store.
TEST_F(SelfRegistrationTest, RemovalInAStoreOfNothingElseLeavesOnlyTheRoot) {
  ASSERT_FALSE(std::filesystem::exists(store_path()));
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_FALSE(std::filesystem::exists(store_path()));
  ASSERT_EQ(kSOk, RegisterServer());
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_EQ(std::make_pair(0u, 0u), testing::RegCounts(RegKey::LocalMachine()));
}
#endif  // !_WIN32

}  // namespace
}  // namespace wendrel
