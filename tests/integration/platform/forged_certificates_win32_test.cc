// The Windows server-certificate check against what an attacker presents,
// under Wine, called the way wldap32's callback would call it: the
// certificates a server sends in one memory store, the context of the
// server's own taken from that store. Wine's wldap32 never calls the
// callback during a handshake, so the check is called directly with what
// each fixture server sends (its certificate file). localhost stands for
// the server: Wine's SSL policy never matches an IP address.

#include <chrono>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/win32/certificate_check_win32.h"
#include "tests/integration/support/directory_fixture.h"

namespace wendrel {
namespace platform {
namespace {

struct ContextFreer {
  void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); }
};
using Context = std::unique_ptr<const CERT_CONTEXT, ContextFreer>;

// What a server sent: its certificates in a memory store, and the context
// of the first one (the server's own) in that store.
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

std::string Judged(const std::string& sent_file, const std::string& trusted_file) {
  Sent sent = SentBy(sent_file);
  if (sent.leaf == nullptr) return "nothing sent";
  CertStore trusted = LoadCertificateFile(trusted_file);
  return CertificateVerdictName(VerifyServerCertificate(sent.leaf.get(), trusted.get(),
                                                        L"localhost"));
}

int CertificatesIn(HCERTSTORE store) {
  int count = 0;
  for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;) {
    ++count;
  }
  return count;
}

class ForgedCertificateTest : public ::testing::Test {
 protected:
  testing::DirectoryFixture dir_;
};

TEST_F(ForgedCertificateTest, OnlyChainsThatReallyReachTheFileAreTrusted) {
  ASSERT_TRUE(dir_.Start({"Good:tls=good", "Forged:tls=forgedca", "Fake:tls=fakeca",
                          "Chain:tls=chain", "Leaf:tls=forgedleaf"}))
      << dir_.error();
  const std::string ca = dir_.CaCertPath();
  const std::string intermediate = dir_.IntermediateCertPath();
  const std::string with_forgery = dir_.CaWithForgeryPath();
  struct Case {
    size_t server;
    std::string trusted_file;
    std::string verdict;
  };
  const std::vector<Case> cases = {
      {0, ca, "trusted"},
      // The CA's subject and serial number on another key: nothing the CA signed.
      {1, ca, "untrusted"},
      {2, ca, "untrusted"},
      // Issued in the genuine CA's name, which is in the file, but not signed by it.
      {4, ca, "untrusted"},
      // Root in the file, intermediate sent by the server.
      {3, ca, "trusted"},
      // An intermediate in the file vouches for what it issued, and only that.
      {3, intermediate, "trusted"},
      {0, intermediate, "untrusted"},
      // The file's genuine CA is kept beside a forgery of it and still vouches
      // for its server; the forgery vouches for what it signed, being in the file.
      {0, with_forgery, "trusted"},
      {1, with_forgery, "untrusted"},
      {2, with_forgery, "trusted"},
  };
  std::vector<std::string> expected;
  std::vector<std::string> judged;
  for (const Case& c : cases) {
    const std::string what = dir_.server(c.server).tree + " against " + c.trusted_file + ": ";
    expected.push_back(what + c.verdict);
    judged.push_back(what + Judged(dir_.server(c.server).certificate, c.trusted_file));
  }
  EXPECT_EQ(expected, judged);

  CertStore both = LoadCertificateFile(with_forgery);
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(CertificatesIn(both.get()), 2);
}

// A server certificate whose issuer is neither sent nor in the file, and
// whose authority information access names the fixture's silent listener as
// the place to fetch it: the check builds its chain offline, so the verdict
// comes back without waiting on the listener. Were the issuer fetched, the
// wait would end only with crypt32's retrieval time-out.
TEST_F(ForgedCertificateTest, MissingIssuerIsNotFetched) {
  ASSERT_TRUE(dir_.Start({"Chain:tls=chain"})) << dir_.error();
  const std::string leaf = dir_.AiaLeafCertPath();
  const std::string ca = dir_.CaCertPath();
  std::packaged_task<std::string()> judge([&] { return Judged(leaf, ca); });
  std::future<std::string> verdict = judge.get_future();
  std::thread worker(std::move(judge));
  const bool in_time = verdict.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  worker.join();
  EXPECT_TRUE(in_time);
  EXPECT_EQ(verdict.get(), "untrusted");
}

}  // namespace
}  // namespace platform
}  // namespace wendrel
