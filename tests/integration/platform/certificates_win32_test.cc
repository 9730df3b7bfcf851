// The Windows server-certificate check and the TLS handles of the Windows
// LDAP port, under Wine. Wine's wldap32 refuses the certificate callback
// (0x5C), so the check is called with the certificates the fixture's servers
// send (their files), and the handles' cases go through the port's test
// seams, the test calling the installed callback as wldap32 would. localhost
// stands for the server: Wine's SSL policy never matches an IP address.

#include <windows.h>
#include <wincrypt.h>
#include <winldap.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "platform/win32/certificate_check_win32.h"
#include "platform/win32/ldap_win32_testing.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

// Listens to the debugger output of the process (the DBWIN protocol that
// OutputDebugString serves), where the trace goes on Windows.
class DebugOutputMonitor {
 public:
  DebugOutputMonitor()
      : buffer_ready_(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_BUFFER_READY")),
        data_ready_(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY")),
        mapping_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                    "DBWIN_BUFFER")),
        view_(mapping_ != nullptr ? MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096)
                                  : nullptr) {
    if (ok()) thread_ = std::thread([this] { Listen(); });
  }
  ~DebugOutputMonitor() {
    stop_ = true;
    if (thread_.joinable()) {
      SetEvent(data_ready_);
      thread_.join();
    }
    if (view_ != nullptr) UnmapViewOfFile(view_);
    for (HANDLE h : {mapping_, data_ready_, buffer_ready_}) {
      if (h != nullptr) CloseHandle(h);
    }
  }
  bool ok() const { return buffer_ready_ && data_ready_ && mapping_ && view_; }

  // Whether a line containing `text` has come, waiting up to 5 s for it.
  bool Saw(const std::string& text) {
    for (int i = 0; i < 50; Sleep(100), ++i) {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const std::string& line : lines_) {
        if (line.find(text) != std::string::npos) return true;
      }
    }
    return false;
  }

 private:
  void Listen() {
    while (!stop_) {
      SetEvent(buffer_ready_);
      if (WaitForSingleObject(data_ready_, 1000) != WAIT_OBJECT_0 || stop_) continue;
      const char* text = static_cast<const char*>(view_) + sizeof(DWORD);
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.emplace_back(text, strnlen(text, 4096 - sizeof(DWORD)));
    }
  }

  HANDLE buffer_ready_, data_ready_, mapping_;
  void* view_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> lines_;
};

using Handle = LdapHandleOwner;
using Strings = std::vector<std::string>;
struct ContextFreer {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

// What a server sent: its certificates in a memory store, and the context of
// the first one (the server's own), kept as added: Wine's store enumerates
// them in another order.
struct Sent {
  CertStore store;
  Context leaf;
};

Sent SentBy(const std::string& pem_path) {
  Sent sent;
  std::ifstream in(pem_path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string pem = text.str();
  sent.store.reset(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  static const char kEnd[] = "-----END CERTIFICATE-----";
  size_t pos = 0;
  while (sent.store != nullptr &&
         (pos = pem.find("-----BEGIN CERTIFICATE-----", pos)) != std::string::npos) {
    const size_t end = pem.find(kEnd, pos);
    if (end == std::string::npos) break;
    const std::string block = pem.substr(pos, end + sizeof(kEnd) - 1 - pos);
    pos = end;
    DWORD size = 0;
    CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                         CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr);
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
      break;
    }
    PCCERT_CONTEXT added = nullptr;
    CertAddEncodedCertificateToStore(sent.store.get(), X509_ASN_ENCODING, der.data(), size,
                                     CERT_STORE_ADD_ALWAYS,
                                     sent.leaf == nullptr ? &added : nullptr);
    if (added != nullptr) sent.leaf.reset(added);
  }
  return sent;
}

// The verdict on the chain in `sent_file` against `trusted_file`.
std::string Judged(const std::string& sent_file, const std::string& trusted_file,
                   const wchar_t* host = L"localhost") {
  Sent sent = SentBy(sent_file);
  if (sent.leaf == nullptr) return "nothing sent";
  CertStore trusted = LoadCertificateFile(trusted_file);
  return CertificateVerdictName(VerifyServerCertificate(sent.leaf.get(), trusted.get(), host));
}

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

// A server of the fixture by index, the trusted file, and the verdict.
struct Case {
  size_t server;
  std::string trusted_file;
  std::string verdict;
};

class CertificateCheckTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SkipServerCertificateCallbackForTesting(false);
    LdapSslClientDeinit();
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, nullptr);
  }
  // Each case's verdict on what its server sends, as "TREE against FILE: VERDICT".
  void ExpectVerdicts(const std::vector<Case>& cases) {
    Strings expected, judged;
    for (const Case& c : cases) {
      const std::string what = dir_.server(c.server).tree + " against " + c.trusted_file + ": ";
      expected.push_back(what + c.verdict);
      judged.push_back(what + Judged(dir_.server(c.server).certificate, c.trusted_file));
    }
    EXPECT_EQ(expected, judged);
  }

  testing::DirectoryFixture dir_;
};

TEST_F(CertificateCheckTest, VerdictsOnTheFixturesCertificates) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Other:tls=otherca", "Old:tls=expired",
                          "Wrong:tls=wronghost"}))
      << dir_.error();
  const std::string ca = dir_.CaCertPath(), other = dir_.OtherCaCertPath();
  const std::string der = dir_.CaCertDerPath(), both = dir_.CaBundlePath();
  const std::vector<Case> cases = {
      {0, ca, "trusted"}, {1, ca, "untrusted"}, {2, ca, "expired"}, {3, ca, "name mismatch"},
      // The other CA's file vouches for its own server only.
      {0, other, "untrusted"}, {1, other, "trusted"},
      // The same CA in DER, and both CAs in one PEM file.
      {0, der, "trusted"}, {1, der, "untrusted"},
      {0, both, "trusted"}, {1, both, "trusted"}, {2, both, "expired"},
      // A file of no certificates is unreadable.
      {0, dir_.NonCertificatePath(), "unreadable"},
  };
  ExpectVerdicts(cases);
  EXPECT_EQ(Judged(dir_.server(0).certificate, ca, L"elsewhere.example"), "name mismatch");
  EXPECT_EQ(LoadCertificateFile(dir_.NonCertificatePath()), nullptr);
  EXPECT_EQ(LoadCertificateFile(ca + ".missing"), nullptr);
}

TEST_F(CertificateCheckTest, OnlyChainsThatReallyReachTheFileAreTrusted) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca",
                          "Chain:tls=chain", "Leaf:tls=forgedleaf"}))
      << dir_.error();
  const std::string ca = dir_.CaCertPath();
  const std::string intermediate = dir_.IntermediateCertPath();
  const std::string with_forgery = dir_.CaWithForgeryPath();
  // Forgeries of the CA (its subject and serial on another key; issued in
  // its name, not signed by it) are untrusted; the root in the file and the
  // intermediate sent by the server are trusted, and so is an intermediate
  // in the file, for what it issued only; the genuine CA kept beside a
  // forgery still vouches for its server, the forgery for what it signed.
  const std::vector<Case> cases = {
      {0, ca, "trusted"},           {1, ca, "untrusted"},           {2, ca, "untrusted"},
      {4, ca, "untrusted"},         {3, ca, "trusted"},             {3, intermediate, "trusted"},
      {0, intermediate, "untrusted"}, {0, with_forgery, "trusted"}, {1, with_forgery, "untrusted"},
      {2, with_forgery, "trusted"},
  };
  ExpectVerdicts(cases);
  CertStore both = LoadCertificateFile(with_forgery);
  ASSERT_NE(both, nullptr);
  int count = 0;
  for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(both.get(), c));) ++count;
  EXPECT_EQ(count, 2);

  // A server certificate whose issuer is neither sent nor in the file, and
  // whose authority information access names the fixture's silent listener
  // as the place to fetch it: the chain is built offline, so the verdict
  // comes back without waiting on the listener (were the issuer fetched, the
  // wait would end only with crypt32's retrieval time-out).
  const std::string leaf = dir_.AiaLeafCertPath();
  std::packaged_task<std::string()> judge([&] { return Judged(leaf, ca); });
  std::future<std::string> verdict = judge.get_future();
  std::thread worker(std::move(judge));
  const bool in_time = verdict.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  worker.join();
  EXPECT_TRUE(in_time);
  EXPECT_EQ(verdict.get(), "untrusted");
}

TEST_F(CertificateCheckTest, TlsHandleWithoutTheCheckFailsAtTheBindAndSaysWhy) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good"})) << dir_.error();
  DebugOutputMonitor monitor;
  ASSERT_TRUE(monitor.ok());
  ASSERT_EQ(LdapSslAddTrustedCert(dir_.CaCertPath().c_str(), kLdapCertFilePem), 0);
  const testing::DirectoryServer& good = dir_.server(0);
  LdapHandle* ld = LdapSslInit(good.host.c_str(), good.tls_port, 1);
  ASSERT_NE(ld, nullptr);
  EXPECT_EQ(LdapSimpleBind(ld, "", ""), -1);
  LdapUnbind(ld);
  LdapSslClientDeinit();
  EXPECT_TRUE(monitor.Saw("TLS server " + good.host + " not used"));
}

class TlsHandleCheckTest : public CertificateCheckTest {
 protected:
  void SetUp() override {
    const LdapTimeval timeout = {5, 0};
    LdapSetOption(nullptr, kLdapOptNetworkTimeout, &timeout);
    ASSERT_EQ(LdapSslClientInit(nullptr, nullptr), 0);
  }
};

// What a wldap32 that accepts the callback may do, and what the port makes
// of it: a handle nobody judged, or judged for another handle, is never
// used; a refused certificate is the connect error, whatever ldap_connect
// reported (Windows' may say "server down"; Wine's cannot be made to).
TEST_F(TlsHandleCheckTest, UsedOnlyWhenTheCallbackTrustedThatHandle) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good:host=127.0.0.1", "Other:tls=otherca"})) << dir_.error();
  const int port = dir_.server(0).tls_port;
  const std::string good_certificate = dir_.server(0).certificate;
  const std::string other_certificate = dir_.server(1).certificate;
  DebugOutputMonitor trace;
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

// The start-up worker, the probes and the search add their server's file and
// open its handle on threads of their own, at once. Two threads, round after
// round, each add their file, the second before the first opens its handle
// (the order a process-wide file gets wrong); each then judges both servers'
// certificates on its handle: its own server's passes, the other's does not.
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
