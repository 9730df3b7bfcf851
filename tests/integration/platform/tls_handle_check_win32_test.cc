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

#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
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

// The first bind on `ld`: "bound" when the server answered it, else the
// result code of the failure.
std::string FirstBind(LdapHandle* ld) {
  const int msgid = LdapSimpleBind(ld, "", "");
  LdapMessage* raw = nullptr;
  const LdapTimeval wait = {5, 0};
  if (msgid != -1 && LdapResult(ld, msgid, 0, &wait, &raw) == kLdapResBind) {
    LdapMsgFree(raw);
    return "bound";
  }
  LdapMsgFree(raw);
  int code = 0;
  LdapGetOption(ld, kLdapOptResultCode, &code);
  char text[32];
  std::snprintf(text, sizeof(text), "failed 0x%x", static_cast<unsigned>(code));
  return text;
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
// of it: a handle nobody judged, or judged for another handle, is never
// used; a refused certificate is the connect error, whatever ldap_connect
// reported (Windows' wldap32 may report its tear-down as "server down";
// Wine's ldap_connect on a TLS handle defers the connection to the first
// operation and reports success even where nothing listens, so that code
// cannot be produced here; the port decides from the verdict alone).
TEST_F(TlsHandleCheckTest, UsedOnlyWhenTheCallbackTrustedThatHandle) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good:host=127.0.0.1", "Other:tls=otherca"})) << dir_.error();
  const int port = dir_.server(0).tls_port;
  const std::string good_certificate = dir_.server(0).certificate;
  const std::string other_certificate = dir_.server(1).certificate;
  testing::DebugOutputMonitor trace;
  ASSERT_TRUE(trace.ok());
  SkipServerCertificateCallbackForTesting(true);
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaCertPath().c_str(), kLdapCertFilePem), 0);

  enum class Call { kNone, kTrusted, kRefused, kForAnotherHandle };
  std::map<std::string, std::string> outcomes;
  for (Call call : {Call::kNone, Call::kForAnotherHandle, Call::kTrusted, Call::kRefused}) {
    Handle ld(LdapSslInit("localhost", port, 1));
    Handle another(LdapSslInit("localhost", port, 1));
    ASSERT_NE(ld, nullptr);
    std::string name = "never called";
    if (call == Call::kTrusted) name = Judge(ld.get(), good_certificate) ? "trusted" : "refused";
    if (call == Call::kRefused) name = Judge(ld.get(), other_certificate) ? "trusted" : "refused";
    if (call == Call::kForAnotherHandle) {
      name = std::string("another handle ") +
             (Judge(another.get(), good_certificate) ? "trusted" : "refused");
    }
    outcomes[name] = FirstBind(ld.get());
  }
  const std::map<std::string, std::string> expected = {
      {"never called", "failed 0x5b"},
      {"another handle trusted", "failed 0x5b"},
      {"trusted", "bound"},
      {"refused", "failed 0x5b"},
  };
  EXPECT_EQ(expected, outcomes);
  EXPECT_TRUE(trace.Saw("TLS server localhost not used: the LDAP library connected without "
                        "checking its certificate"));
  EXPECT_TRUE(trace.Saw("TLS server localhost not used: its certificate was refused"));
}

// The start-up worker, the probes and the search each add their server's
// file and open its handle on threads of their own, at once. Here two
// threads, round after round, each add their file, the second adding its
// own before the first opens its handle (the order a process-wide file gets
// wrong); then each judges the certificates of both servers on its handle:
// its own server's passes, the other's does not.
TEST_F(TlsHandleCheckTest, EachHandleIsJudgedAgainstItsOwnThreadsFile) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca"})) << dir_.error();
  struct Server {
    std::string trusted_file;
    int port;
    std::string certificate;
  };
  const Server servers[] = {
      {dir_.CaCertPath(), dir_.server(0).tls_port, dir_.server(0).certificate},
      {dir_.OtherCaCertPath(), dir_.server(1).tls_port, dir_.server(1).certificate}};
  constexpr int kRounds = 100;
  std::mutex mutex;
  std::condition_variable changed;
  int adds = 0;
  std::vector<int> wrong(2, 0);
  auto run = [&](int t) {
    for (int round = 0; round < kRounds; ++round) {
      const Server& own = servers[(t + round) % 2];
      const Server& other = servers[(t + round + 1) % 2];
      const int turn = 2 * round + (t == round % 2 ? 0 : 1);
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return adds == turn; });
      const bool added = LdapSslAddTrustedCert(own.trusted_file.c_str(), kLdapCertFilePem) == 0;
      ++adds;
      changed.notify_all();
      changed.wait(lock, [&] { return adds >= 2 * round + 2; });
      lock.unlock();
      Handle ld(LdapSslInit("localhost", own.port, 1));
      if (!added || ld == nullptr || !Judge(ld.get(), own.certificate) ||
          Judge(ld.get(), other.certificate)) {
        ++wrong[t];
      }
    }
  };
  std::thread first(run, 0);
  std::thread second(run, 1);
  first.join();
  second.join();
  EXPECT_EQ(std::vector<int>(2, 0), wrong);
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
