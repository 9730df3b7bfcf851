// Why the chain is built this way: an engine with the trusted file as its
// exclusive root would say exactly what is meant, but Wine's crypt32 refuses
// to create such an engine, so every chain would be refused there, good ones
// included. The default engine with the file's certificates as an
// additional store builds the same chain on both; the file then decides
// through the checks below, not through the engine's trust. The name check
// is left to the SSL policy alone (Wine's never matches an IP address: the
// tests under Wine use a DNS name).

#include "platform/win32/certificate_check_win32.h"

// The SSL policy's SECURITY_FLAG_* switches.
#include <wininet.h>

#include "platform/whole_file.h"

#include <cstring>
#include <vector>

namespace wendrel {
namespace platform {
namespace {

// Far beyond any certificate file; a larger file is not read into memory.
constexpr size_t kMaxFileSize = 4 << 20;

struct ChainFreer {
  void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

bool AddEncoded(HCERTSTORE store, const BYTE* der, DWORD size) {
  return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size,
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
}

// Adds every PEM certificate block of text; the number added, or -1 when a
// block cannot be decoded (the file is then not a certificate file).
int AddPemBlocks(HCERTSTORE store, const std::string& text) {
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  int added = 0;
  size_t pos = 0;
  while ((pos = text.find(kBegin, pos)) != std::string::npos) {
    size_t end = text.find(kEnd, pos);
    if (end == std::string::npos) return -1;
    end += sizeof(kEnd) - 1;
    const std::string block = text.substr(pos, end - pos);
    pos = end;
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      return -1;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr) ||
        !AddEncoded(store, der.data(), size)) {
      return -1;
    }
    ++added;
  }
  return added;
}

bool InStore(HCERTSTORE store, PCCERT_CONTEXT cert) {
  bool found = false;
  PCCERT_CONTEXT each = nullptr;
  while (!found && (each = CertEnumCertificatesInStore(store, each)) != nullptr) {
    found = CertCompareCertificate(X509_ASN_ENCODING, each->pCertInfo, cert->pCertInfo) != FALSE;
  }
  if (each != nullptr) CertFreeCertificateContext(each);
  return found;
}

// The trusted certificates and those the server sent, for chain building.
CertStore AdditionalStore(HCERTSTORE trusted, PCCERT_CONTEXT cert) {
  CertStore collection(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (collection == nullptr || !CertAddStoreToCollection(collection.get(), trusted, 0, 0)) {
    return nullptr;
  }
  if (cert->hCertStore != nullptr) CertAddStoreToCollection(collection.get(), cert->hCertStore, 0, 0);
  return collection;
}

// Whether the SSL server policy accepts the chain for host; trust and dates
// are judged before, so only the name and the key usage count here.
CertificateVerdict CheckName(PCCERT_CHAIN_CONTEXT chain, const std::wstring& host) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
  std::memset(&ssl, 0, sizeof(ssl));
  ssl.cbSize = sizeof(ssl);
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID;
  std::wstring name = host;
  ssl.pwszServerName = &name[0];
  CERT_CHAIN_POLICY_PARA policy;
  std::memset(&policy, 0, sizeof(policy));
  policy.cbSize = sizeof(policy);
  policy.dwFlags = CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG |
                   CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS;
  policy.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status;
  std::memset(&status, 0, sizeof(status));
  status.cbSize = sizeof(status);
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    return CertificateVerdict::kUntrusted;
  }
  if (status.dwError == 0) return CertificateVerdict::kTrusted;
  if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
    return CertificateVerdict::kNameMismatch;
  }
  return CertificateVerdict::kUntrusted;
}

}  // namespace

CertStore LoadCertificateFile(const std::string& path) {
  std::string bytes;
  if (!ReadWholeFile(path, kMaxFileSize, &bytes)) return nullptr;
  CertStore store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  if (store == nullptr) return nullptr;
  int added = AddPemBlocks(store.get(), bytes);
  if (added == 0) {
    // No PEM block: the whole file as one DER certificate.
    added = AddEncoded(store.get(), reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()))
                ? 1
                : 0;
  }
  return added > 0 ? std::move(store) : nullptr;
}

CertificateVerdict VerifyServerCertificate(PCCERT_CONTEXT cert, HCERTSTORE trusted,
                                           const std::wstring& host) {
  if (cert == nullptr) return CertificateVerdict::kUnreadable;
  if (trusted == nullptr) return CertificateVerdict::kUnreadable;
  CertStore additional = AdditionalStore(trusted, cert);
  if (additional == nullptr) return CertificateVerdict::kUnavailable;
  CERT_CHAIN_PARA para;
  std::memset(&para, 0, sizeof(para));
  para.cbSize = sizeof(para);
  PCCERT_CHAIN_CONTEXT raw = nullptr;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, additional.get(), &para, 0, nullptr,
                               &raw)) {
    return CertificateVerdict::kUntrusted;
  }
  Chain chain(raw);
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
    return CertificateVerdict::kUntrusted;
  }
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  bool through_file = false;
  for (DWORD i = 0; i < simple.cElement; ++i) {
    through_file = through_file || InStore(trusted, simple.rgpElement[i]->pCertContext);
  }
  if (!through_file) return CertificateVerdict::kUntrusted;
  PCCERT_CONTEXT root = simple.rgpElement[simple.cElement - 1]->pCertContext;

  // Dates are judged below, certificate by certificate; revocation was not
  // asked for, so what the engine says about it does not count.
  DWORD errors = chain->TrustStatus.dwErrorStatus &
                 ~(CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED |
                   CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
  if (InStore(trusted, root)) errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
  if (errors != 0) return CertificateVerdict::kUntrusted;

  for (DWORD i = 0; i < simple.cElement; ++i) {
    if (CertVerifyTimeValidity(nullptr, simple.rgpElement[i]->pCertContext->pCertInfo) != 0) {
      return CertificateVerdict::kExpired;
    }
  }
  return CheckName(chain.get(), host);
}

}  // namespace platform
}  // namespace wendrel
