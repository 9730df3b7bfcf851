// The Windows LDAP port uses a TLS connection only when its server-
// certificate callback judged that very handle's server trusted, and judges
// each handle against the trusted file of the thread that opened it.
//
// Wine's wldap32 refuses the callback (0x5C) and never calls it, so these
// cases come through the port's test seams: one makes the port behave as
// under a wldap32 that accepts the option and never calls it, and the test
// plays wldap32's part by calling the installed callback itself, with a
// certificate the fixture's servers present. Handles that are judged name
// the server "localhost", which the fixture's certificates carry: Wine's
// SSL policy never matches an IP address.

#include <windows.h>
#include <wincrypt.h>
#include <winldap.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "platform/win32/certificate_check_win32.h"
#include "platform/win32/ldap_win32_testing.h"
#include "tests/integration/support/debug_output_win32.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

using Handle = LdapHandleOwner;

// Calls the port's callback for `ld` as wldap32 would during the handshake:
// with a pointer to the context of the certificate the server presents
// (here the first one of `certificate_file`), which the callback frees.
// True for the callback's "trusted".
bool Judge(LdapHandle* ld, const std::string& certificate_file) {
  CertStore store = LoadCertificateFile(certificate_file);
  if (store == nullptr) return false;
  PCCERT_CONTEXT presented = CertEnumCertificatesInStore(store.get(), nullptr);
  if (presented == nullptr) return false;
  return ServerCertificateCallbackForTesting()(WldapConnectionForTesting(ld),
                                               reinterpret_cast<PCCERT_CONTEXT>(&presented)) !=
         FALSE;
}

// The first bind on `ld` as the directory code sees it: the tree name read
// over the connection, or the result code of the failure.
std::string FirstBind(LdapHandle* ld) {
  if (LdapSimpleBind(ld, "", "") == -1) {
    int code = 0;
    LdapGetOption(ld, kLdapOptResultCode, &code);
    char text[32];
    std::snprintf(text, sizeof(text), "failed 0x%x", static_cast<unsigned>(code));
    return text;
  }
  char attribute[] = "directoryTreeName";
  char* attributes[] = {attribute, nullptr};
  LdapMessage* raw = nullptr;
  const int rc = LdapSearchExtS(ld, "", kLdapScopeBase, "(objectClass=*)", attributes, 0,
                                nullptr, nullptr, nullptr, 0, &raw);
  LdapMessageOwner result(raw);
  if (rc != kLdapSuccess) return "search 0x" + std::to_string(rc);
  LdapValuesOwner values(LdapGetValues(ld, LdapFirstEntry(ld, result.get()), attribute));
  return values != nullptr && values.get()[0] != nullptr ? "tree " + std::string(values.get()[0])
                                                         : "no tree name";
}

class TlsHandleCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const LdapTimeval timeout = {5, 0};
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, &timeout);
    ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  }
  void TearDown() override {
    SkipServerCertificateCallbackForTesting(false);
    LdapSslClientDeinit();
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
  }

  testing::DirectoryFixture dir_;
};

// What a wldap32 that accepts the callback may do, and what the port makes
// of it. A certificate refused on a connection that wldap32 then tears down
// (here: nothing listens, so ldap_connect reports "server down") is still a
// certificate failure, and a handle nobody judged is never used.
TEST_F(TlsHandleCheckTest, UsedOnlyWhenTheCallbackTrustedThatHandle) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good:host=127.0.0.1", "Other:tls=otherca"})) << dir_.error();
  const std::string good_certificate = dir_.server(0).certificate;
  const std::string other_certificate = dir_.server(1).certificate;
  testing::DebugOutputMonitor trace;
  ASSERT_TRUE(trace.ok());
  SkipServerCertificateCallbackForTesting(true);
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaCertPath().c_str(), kLdapCertFilePem), 0);

  enum class Call { kNone, kTrusted, kRefused, kForAnotherHandle };
  struct Case {
    const char* name;
    Call call;
    bool live;  // the fixture's server, else a closed port
    std::string expected;
  };
  const Case cases[] = {
      {"never called", Call::kNone, true, "failed 0x5b"},
      {"called for another handle", Call::kForAnotherHandle, true, "failed 0x5b"},
      {"trusted for this handle", Call::kTrusted, true, "tree Good"},
      {"refused for this handle", Call::kRefused, true, "failed 0x5b"},
      {"refused, connection torn down", Call::kRefused, false, "failed 0x5b"},
      {"never called, nothing listens", Call::kNone, false, "failed 0x51"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Handle ld(c.live ? LdapSslInit("localhost", dir_.server(0).tls_port, 1)
                     : LdapSslInit(dir_.closed_host().c_str(), dir_.closed_port(), 1));
    ASSERT_NE(ld, nullptr);
    Handle another(LdapSslInit("localhost", dir_.server(0).tls_port, 1));
    if (c.call == Call::kTrusted) EXPECT_TRUE(Judge(ld.get(), good_certificate));
    if (c.call == Call::kRefused) EXPECT_FALSE(Judge(ld.get(), other_certificate));
    if (c.call == Call::kForAnotherHandle) EXPECT_TRUE(Judge(another.get(), good_certificate));
    EXPECT_EQ(c.expected, FirstBind(ld.get()));
  }
  EXPECT_TRUE(trace.Saw("TLS server localhost not used: the LDAP library connected without "
                        "checking its certificate"));
  EXPECT_TRUE(trace.Saw("TLS server localhost not used: its certificate was refused"));
  EXPECT_TRUE(trace.Saw("TLS server " + dir_.closed_host() +
                        " not used: its certificate was refused"));
}

// The start-up worker, the probes and the search each add their server's
// file and open its handle on threads of their own, at once: every handle is
// judged against the file its own thread added, never another thread's.
TEST_F(TlsHandleCheckTest, EachHandleIsJudgedAgainstItsOwnThreadsFile) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca"})) << dir_.error();
  struct Server {
    std::string trusted_file;
    int port;
    std::string certificate;
  };
  const Server servers[] = {{dir_.CaCertPath(), dir_.server(0).tls_port, dir_.server(0).certificate},
                            {dir_.OtherCaCertPath(), dir_.server(1).tls_port,
                             dir_.server(1).certificate}};
  constexpr int kThreads = 4;
  constexpr int kRounds = 60;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const Server& own = servers[(t + round) % 2];
        const Server& other = servers[(t + round + 1) % 2];
        if (LdapSslAddTrustedCert(own.trusted_file.c_str(), kLdapCertFilePem) != 0) {
          ++wrong[t];
          continue;
        }
        Handle ld(LdapSslInit("localhost", own.port, 1));
        // Its own server's certificate passes, the other server's does not.
        if (ld == nullptr || !Judge(ld.get(), own.certificate) ||
            Judge(ld.get(), other.certificate)) {
          ++wrong[t];
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(kThreads, 0), wrong);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
