// The Windows server-certificate check under Wine, called directly: Wine's
// wldap32 never calls the callback that runs it during a handshake, so the
// certificates come from the fixture's files, as crypt32 contexts. A DNS
// name (localhost) stands for the server: Wine's SSL policy never matches
// an IP address.

#include "platform/win32/certificate_check_win32.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "tests/integration/support/debug_output_win32.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

struct ContextFreer {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

// The first certificate of a file, as a context of its own store.
Context FirstCertificate(const std::string& path) {
  CertStore store = LoadCertificateFile(path);
  if (store == nullptr) return nullptr;
  return Context(CertEnumCertificatesInStore(store.get(), nullptr));
}

class CertificateCheckTest : public ::testing::Test {
 protected:
  CertificateVerdict Verify(size_t server, const std::string& trusted_file,
                            const wchar_t* host = L"localhost") {
    Context cert = FirstCertificate(dir_.server(server).certificate);
    if (cert == nullptr) return CertificateVerdict::kUnreadable;
    CertStore trusted = LoadCertificateFile(trusted_file);
    return VerifyServerCertificate(cert.get(), trusted.get(), host);
  }

  testing::DirectoryFixture dir_;
};

TEST_F(CertificateCheckTest, VerdictsOnTheFixturesCertificates) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca", "Old:tls=expired",
                          "Wrong:tls=wronghost"}))
      << dir_.error();
  const std::string ca = dir_.CaCertPath();
  EXPECT_EQ(Verify(0, ca), CertificateVerdict::kTrusted);
  EXPECT_EQ(Verify(1, ca), CertificateVerdict::kUntrusted);
  EXPECT_EQ(Verify(2, ca), CertificateVerdict::kExpired);
  EXPECT_EQ(Verify(3, ca), CertificateVerdict::kNameMismatch);
  EXPECT_EQ(Verify(0, ca, L"elsewhere.example"), CertificateVerdict::kNameMismatch);

  // The other CA's file vouches for its own server only.
  EXPECT_EQ(Verify(0, dir_.OtherCaCertPath()), CertificateVerdict::kUntrusted);
  EXPECT_EQ(Verify(1, dir_.OtherCaCertPath()), CertificateVerdict::kTrusted);

  // The same CA in DER, and both CAs in one PEM file.
  EXPECT_EQ(Verify(0, dir_.CaCertDerPath()), CertificateVerdict::kTrusted);
  EXPECT_EQ(Verify(1, dir_.CaCertDerPath()), CertificateVerdict::kUntrusted);
  EXPECT_EQ(Verify(0, dir_.CaBundlePath()), CertificateVerdict::kTrusted);
  EXPECT_EQ(Verify(1, dir_.CaBundlePath()), CertificateVerdict::kTrusted);
  EXPECT_EQ(Verify(2, dir_.CaBundlePath()), CertificateVerdict::kExpired);

  // A file of no certificates is unreadable.
  EXPECT_EQ(Verify(0, dir_.NonCertificatePath()), CertificateVerdict::kUnreadable);
  EXPECT_EQ(LoadCertificateFile(dir_.NonCertificatePath()), nullptr);
  EXPECT_EQ(LoadCertificateFile(ca + ".missing"), nullptr);
}

using testing::DebugOutputMonitor;

TEST(CertificateCheckFailClosedTest, TlsHandleWithoutTheCheckFailsAtTheBindAndSaysWhy) {
  testing::DirectoryFixture dir;
  ASSERT_TRUE(dir.Start({"Good:tls=good"})) << dir.error();
  DebugOutputMonitor monitor;
  ASSERT_TRUE(monitor.ok());
  ASSERT_EQ(LdapSslAddTrustedCert(dir.CaCertPath().c_str(), kLdapCertFilePem), 0);
  const testing::DirectoryServer& good = dir.server(0);
  LdapHandle* ld = LdapSslInit(good.host.c_str(), good.tls_port, 1);
  ASSERT_NE(ld, nullptr);
  EXPECT_EQ(LdapSimpleBind(ld, "", ""), -1);
  LdapUnbind(ld);
  LdapSslClientDeinit();
  bool said = false;
  for (int i = 0; i < 50 && !said; ++i) {
    for (const std::string& line : monitor.lines()) {
      said = said || line.find("TLS server " + good.host + " not used") != std::string::npos;
    }
    if (!said) Sleep(100);
  }
  EXPECT_TRUE(said);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
