// wendrel-doctor audit's findings against the registry: the native store, and
// under Wine the prefix's real registry with a real access list on the server
// settings key.

#include "audit.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "config/registry_paths.h"
#include "gtest/gtest.h"
#include "platform/registry.h"
#include "tests/unit/support/registry_fixture.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace wendrel {
namespace doctor {
namespace {

std::string Hklm(const std::string& path) { return "HKLM\\" + path; }

// code, key, value ("" for none): what a test expects of one finding.
using Expected = std::tuple<std::string, std::string, std::string>;

// The registry enumerates values in an order of its own (Wine's differs from
// the native store's): findings are compared as sorted lists.
std::vector<Expected> Sorted(std::vector<Expected> list) {
  std::sort(list.begin(), list.end());
  return list;
}

std::vector<Expected> Summaries(const std::vector<Finding>& findings) {
  std::vector<Expected> out;
  for (const Finding& f : findings) {
    EXPECT_TRUE(!f.message.empty() && f.has_value == !f.value.empty()) << f.code;
    out.emplace_back(f.code, f.key, f.value);
  }
  return Sorted(out);
}

class AuditTest : public testing::RegistryTest {
 protected:
  // One server and one tree, plain LDAP, contexts off: nothing to report.
  void SoundConfiguration() {
    SetDword(kOptionsKeyPath, "Contextless Login Enabled", 1);
    SetString(kServersKeyPath, "0", "ldap1.example.com");
    SetDword(kServerSettingsKeyPath, "Port 0", 389);
    SetString(kTreesKeyPath, "0", "ACME");
  }

  std::string Settings() const { return Hklm(kServerSettingsKeyPath); }
};

TEST_F(AuditTest, SoundOrEmptyConfigurationHasNoFindings) {
  EXPECT_TRUE(AuditConfiguration().empty());
  SoundConfiguration();
  SetDword(kServerSettingsKeyPath, "Clear Text 0", 0);
  SetString(kServerSettingsKeyPath, "Certificate 0", "C:\\certs\\ca.pem");
  SetDword(kOptionsKeyPath, "Context Search Scope Enabled", 1);
  SetString(std::string(kContextsKeyPath) + "\\0", "0", "o=ACME");
  EXPECT_EQ(std::vector<Expected>{}, Summaries(AuditConfiguration()));
}

TEST_F(AuditTest, ValuesOfAnotherTypeThanTheirReaderReads) {
  SoundConfiguration();
  SetString(kServerSettingsKeyPath, "Port 0", "389");                // number as text
  SetDword(kServerSettingsKeyPath, "Proxy Username 0", 7);           // text as number
  SetRaw(kTreesKeyPath, "1", platform::kRegExpandSz, {'%', 'T', '%', 0});
  SetString(kOptionsKeyPath, "search email", "1");                    // any letter case
  SetRaw(kOptionsKeyPath, "Escape Search Filter", platform::kRegQword, {1, 0, 0, 0, 0, 0, 0, 0});
  SetString(kLoginKeyPath, kLocalLoginValueName, "0");
  SetString(kContextsKeyPath, "Search Context And Subtree 0", "0");
  SetDword(std::string(kContextsKeyPath) + "\\0", "0", 1);
  // Not read by any reader: no finding whatever its type.
  SetDword(kOptionsKeyPath, "LoginExtName", 1);
  SetString(kServerSettingsKeyPath, "Comment 0", "x");

  std::vector<Expected> expected = {
      {"wrong-type", Hklm(kOptionsKeyPath), "search email"},
      {"wrong-type", Hklm(kOptionsKeyPath), "Escape Search Filter"},
      {"wrong-type", Settings(), "Port 0"},
      {"wrong-type", Settings(), "Proxy Username 0"},
      {"wrong-type", Hklm(kTreesKeyPath), "1"},
      {"wrong-type", Hklm(kContextsKeyPath), "Search Context And Subtree 0"},
      {"wrong-type", Hklm(std::string(kContextsKeyPath) + "\\0"), "0"},
      {"wrong-type", Hklm(kLoginKeyPath), kLocalLoginValueName},
      // Contexts are configured while the scope switch is off.
      {"contexts-unused", Hklm(std::string(kContextsKeyPath) + "\\0"), ""},
  };
  EXPECT_EQ(Sorted(expected), Summaries(AuditConfiguration()));
}

TEST_F(AuditTest, TlsContextsCacheGapsAndSettingsBeyondTheList) {
  SoundConfiguration();
  SetString(kServersKeyPath, "1", "ldap2.example.com");
  SetDword(kServerSettingsKeyPath, "Clear Text 1", 0);   // TLS without a certificate
  SetString(kServersKeyPath, "3", "ldap4.example.com");  // behind the missing "2"
  SetDword(kServerSettingsKeyPath, "Port 3", 1389);      // for an entry past the end
  SetString(kServerSettingsKeyPath, "Certificate 2", "C:\\ca.pem");
  SetString(kTreesKeyPath, "1", "");                     // empty tree entries do not end it
  SetString(kTreesKeyPath, "2", "OTHER");
  SetString(kTreesKeyPath, "4", "HIDDEN");
  SetDword(kOptionsKeyPath, "Context Search Scope Enabled", 1);
  SetString(std::string(kContextsKeyPath) + "\\0", "0", "o=ACME");
  SetString(std::string(kContextsKeyPath) + "\\2", "0", "");  // an empty first context
  SetString(std::string(kContextsKeyPath) + "\\2", "1", "ou=hidden,o=OTHER");
  SetDword(kOptionsKeyPath, "Allow Wildcards", 1);
  SetDword(kOptionsKeyPath, "UseCachedResults", 1);

  const std::string contexts = Hklm(kContextsKeyPath);
  std::vector<Expected> expected = {
      {"tls-without-certificate", Settings(), "Certificate 1"},
      {"contexts-missing", contexts + "\\1", ""},
      {"contexts-missing", contexts + "\\2", ""},
      {"wildcards-disable-cache", Hklm(kOptionsKeyPath), "UseCachedResults"},
      {"list-gap", Hklm(kServersKeyPath), "3"},
      {"list-gap", Hklm(kTreesKeyPath), "4"},
      {"list-gap", contexts + "\\2", "1"},
      {"settings-beyond-list", Settings(), "Port 3"},
      {"settings-beyond-list", Settings(), "Certificate 2"},
  };
  EXPECT_EQ(Sorted(expected), Summaries(AuditConfiguration()));
}

#ifdef _WIN32

// The settings key's real access list decides. Wine gives a key created
// without one the default that lets Users read it.
TEST_F(AuditTest, PasswordReadableThroughTheSettingsKeyAccessList) {
  using platform::kKeyAllAccess;
  SoundConfiguration();
  SetString(kServerSettingsKeyPath, "Proxy Password 0", "secret");
  std::vector<Expected> readable = {{"password-readable", Settings(), "Proxy Password 0"}};
  EXPECT_EQ(readable, Summaries(AuditConfiguration()));

  // The settings key made anew with `acl`, holding the passwords "secret"
  // and, for server 1, "" (an empty password is no secret).
  auto passwords_under = [](const std::vector<platform::KeyAccessEntry>& acl) {
    DeleteTree(kServerSettingsKeyPath);
    platform::RegKey key;
    ASSERT_EQ(platform::kRegSuccess, key.Create(platform::RegKey::LocalMachine(),
                                                kServerSettingsKeyPath, kKeyAllAccess, &acl,
                                                nullptr));
    const char secret[] = "secret";
    ASSERT_EQ(platform::kRegSuccess,
              key.SetValue("Proxy Password 0", platform::kRegSz, secret, sizeof secret));
    ASSERT_EQ(platform::kRegSuccess, key.SetValue("Proxy Password 1", platform::kRegSz, "", 1));
  };
  SetString(kServersKeyPath, "1", "ldap2.example.com");
  passwords_under({{"S-1-5-32-544", platform::kTrusteeIsGroup, kKeyAllAccess},
                   {"S-1-5-18", platform::kTrusteeIsWellKnownGroup, kKeyAllAccess}});
  EXPECT_EQ(std::vector<Expected>{}, Summaries(AuditConfiguration()));
  // Everyone with read access: found again.
  passwords_under({{"S-1-5-32-544", platform::kTrusteeIsGroup, kKeyAllAccess},
                   {"S-1-1-0", platform::kTrusteeIsWellKnownGroup, platform::kKeyRead}});
  EXPECT_EQ(readable, Summaries(AuditConfiguration()));
}

#else

// Natively the store file's mode decides: one file holds every key.
TEST_F(AuditTest, PasswordReadableThroughTheStoreFileMode) {
  SoundConfiguration();
  SetString(kServersKeyPath, "1", "ldap2.example.com");
  SetString(kServerSettingsKeyPath, "Proxy Password 0", "secret");
  SetString(kServerSettingsKeyPath, "Proxy Password 1", "");  // no secret
  ASSERT_EQ(0, chmod(store_path().c_str(), 0600));
  EXPECT_EQ(std::vector<Expected>{}, Summaries(AuditConfiguration()));

  ASSERT_EQ(0, chmod(store_path().c_str(), 0644));
  std::vector<Finding> findings = AuditConfiguration();
  std::vector<Expected> readable = {{"password-readable", Settings(), "Proxy Password 0"}};
  EXPECT_EQ(readable, Summaries(findings));
  EXPECT_NE(std::string::npos, findings.at(0).message.find("0644")) << findings[0].message;
}

#endif

}  // namespace
}  // namespace doctor
}  // namespace wendrel
