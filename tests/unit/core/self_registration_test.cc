#include "core/self_registration.h"

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/registrar.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "platform/resources.h"
#include "tests/unit/support/registry_fixture.h"
#include "tests/unit/support/test_language.h"

namespace wendrel {
namespace {

using platform::RegKey;

constexpr char kExtensionKey[] = "Software\\Tarvos\\Graphical Login\\QZLGE\\LDAP Contextless";
constexpr char kQzlgeKey[] = "Software\\Tarvos\\Graphical Login\\QZLGE";
constexpr char kGraphicalLoginKey[] = "Software\\Tarvos\\Graphical Login";
constexpr char kTarvosKey[] = "Software\\Tarvos";

bool KeyExists(const std::string& path) {
  RegKey key;
  return key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) == platform::kRegSuccess;
}

// The type and bytes of a value; type 0xFFFFFFFF when it cannot be read.
struct Stored {
  uint32_t type = 0xFFFFFFFF;
  std::vector<uint8_t> data;
};

Stored ReadValue(const std::string& path, const std::string& name) {
  Stored stored;
  RegKey key;
  if (key.Open(RegKey::LocalMachine(), path, platform::kKeyRead) != platform::kRegSuccess) {
    return stored;
  }
  uint32_t type = 0;
  uint32_t size = 0;
  if (key.QueryValue(name, &type, nullptr, &size) != platform::kRegSuccess) return stored;
  stored.data.resize(size);
  if (key.QueryValue(name, &type, stored.data.data(), &size) != platform::kRegSuccess) {
    return stored;
  }
  stored.data.resize(size);
  stored.type = type;
  return stored;
}

std::vector<uint8_t> Sz(const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

void Counts(const std::string& path, uint32_t* subkeys, uint32_t* values) {
  RegKey key;
  ASSERT_EQ(platform::kRegSuccess, key.Open(RegKey::LocalMachine(), path, platform::kKeyRead));
  ASSERT_EQ(platform::kRegSuccess, key.QueryInfo(subkeys, values));
}

class SelfRegistrationTest : public testing::RegistryTest {
 protected:
  void ExpectRegistered() {
    const Stored desc = ReadValue(kExtensionKey, "LoginExtDesc");
    EXPECT_EQ(platform::kRegSz, desc.type);
    EXPECT_EQ(Sz("Tarvos LDAP Contextless Login"), desc.data);
    // Unexpanded: the login host expands it, with one percent sign each side.
    const Stored name = ReadValue(kExtensionKey, "LoginExtName");
    EXPECT_EQ(platform::kRegSz, name.type);
    EXPECT_EQ(Sz("%ProgramFiles%\\Tarvos\\Client\\wendrel.dll"), name.data);
    const Stored type = ReadValue(kExtensionKey, "LoginExtType");
    EXPECT_EQ(platform::kRegDword, type.type);
    EXPECT_EQ((std::vector<uint8_t>{0x01, 0x80, 0x00, 0x00}), type.data);
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
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ("\r\n", text.substr(text.size() - 2));
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
    }
  }
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
  ExpectRegistered();
  uint32_t subkeys = 0, values = 0;
  Counts(kExtensionKey, &subkeys, &values);
  EXPECT_EQ(0u, subkeys);
  EXPECT_EQ(4u, values);
  Counts(kQzlgeKey, &subkeys, &values);
  EXPECT_EQ(1u, subkeys);
  EXPECT_EQ(0u, values);
}

TEST_F(SelfRegistrationTest, RemovalDeletesTheKeyWithOptionsAndTheEmptyKeysAbove) {
  CreateKey("Software\\Other Vendor");  // as on every installed system
  ASSERT_EQ(kSOk, RegisterServer());
  SetDword(kExtensionKey, "Contextless Login Enabled", 1);
  SetString(kExtensionKey, "Search Full Name", "yes");
  SetString(kQzlgeKey, "Left Here", "by an installer");
  SetDword(kTarvosKey, "Version", 8);

  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_FALSE(KeyExists(kExtensionKey));
  EXPECT_FALSE(KeyExists(kQzlgeKey));
  EXPECT_FALSE(KeyExists(kGraphicalLoginKey));
  EXPECT_FALSE(KeyExists(kTarvosKey));
  EXPECT_TRUE(KeyExists("Software\\Other Vendor"));

  // Again, with nothing left to remove.
  EXPECT_EQ(kSOk, UnregisterServer());
}

TEST_F(SelfRegistrationTest, RemovalKeepsKeysThatStillHaveOtherSubkeys) {
  ASSERT_EQ(kSOk, RegisterServer());
  SetString(kQzlgeKey + std::string("\\Other Extension"), "LoginExtDesc", "someone else");
  SetString(kQzlgeKey, "Shared", "kept");
  SetDword("Software\\Tarvos\\LDAP\\Servers", "0", 1);

  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_FALSE(KeyExists(kExtensionKey));
  EXPECT_EQ(Sz("someone else"),
            ReadValue(kQzlgeKey + std::string("\\Other Extension"), "LoginExtDesc").data);
  EXPECT_EQ(Sz("kept"), ReadValue(kQzlgeKey, "Shared").data);
  EXPECT_TRUE(KeyExists(kGraphicalLoginKey));

  // Without the other extension, QZLGE and Graphical Login go, but Tarvos keeps
  // the server list.
  DeleteTree(kQzlgeKey + std::string("\\Other Extension"));
  ASSERT_EQ(kSOk, RegisterServer());
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_FALSE(KeyExists(kGraphicalLoginKey));
  EXPECT_TRUE(KeyExists(kTarvosKey));
  EXPECT_EQ(platform::kRegDword, ReadValue("Software\\Tarvos\\LDAP\\Servers", "0").type);
}

TEST_F(SelfRegistrationTest, RemovalOfWhatWasNeverRegisteredChangesNothing) {
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_FALSE(KeyExists(kTarvosKey));

  SetDword("Software\\Tarvos\\LDAP\\Servers", "0", 1);
  SetString(kQzlgeKey + std::string("\\Other Extension"), "LoginExtDesc", "someone else");
  EXPECT_EQ(kSOk, UnregisterServer());
  EXPECT_EQ(platform::kRegDword, ReadValue("Software\\Tarvos\\LDAP\\Servers", "0").type);
  EXPECT_EQ(Sz("someone else"),
            ReadValue(kQzlgeKey + std::string("\\Other Extension"), "LoginExtDesc").data);
}

// A library whose script cannot be loaded (here: the module instance is a
// language module, which carries no script) removes nothing, and its removal
// still reports success; registration reports the failure.
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
  // The registry refuses a key name longer than 255 characters only when the
  // keys above it and their values have been written already.
  CreateKey("Software\\Other Vendor");
  ScriptKey partial{"Partial", {{"Written", platform::kRegSz, Sz("first")}}, {}};
  ScriptKey too_long{std::string(300, 'k'), {}, {}};
  ScriptKey tarvos{"Tarvos", {}, {partial, too_long}};
  RegistrationScript script;
  script.keys.push_back(ScriptKey{"Software", {}, {tarvos}});

  const int32_t status = RegisterScript(script);
  EXPECT_NE(kSOk, status);
  EXPECT_EQ(0x80070000u, static_cast<uint32_t>(status) & 0xFFFF0000u) << std::hex << status;
  EXPECT_FALSE(KeyExists(kTarvosKey));
  EXPECT_TRUE(KeyExists("Software\\Other Vendor"));
}

TEST(HresultTest, Win32ErrorsLandInTheWin32Facility) {
  EXPECT_EQ(0, HresultFromWin32(0));
  EXPECT_EQ(static_cast<int32_t>(0x80070005u), HresultFromWin32(5));
  EXPECT_EQ(static_cast<int32_t>(0x80070716u), HresultFromWin32(1814));
}

}  // namespace
}  // namespace wendrel
