// Why the chain is built this way: an engine with the trusted file as its
// exclusive root would say exactly what is meant, but Wine's crypt32 refuses
// to create such an engine, so every chain would be refused there, good ones
// included. The default engine with the file's certificates as an
// additional store builds the same chain on both; the file then decides
// through the checks below, not through the engine's trust. The name check
// is left to the SSL policy alone (Wine's never matches an IP address: the
// tests under Wine use a DNS name).
//
// "One of the file's certificates" means the same encoded bytes, never the
// same issuer and serial number: anyone can copy a CA's name and serial
// into a certificate of their own key (CertCompareCertificate, and adding
// to a store with CERT_STORE_ADD_REPLACE_EXISTING, match on exactly that).

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

// Every certificate of the file is kept: a store add that matches on issuer
// and serial would let a forgery of a CA displace the genuine one.
bool AddEncoded(HCERTSTORE store, const BYTE* der, DWORD size) {
  return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, size,
                                          CERT_STORE_ADD_ALWAYS, nullptr) != FALSE;
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

bool SameBytes(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a->cbCertEncoded == b->cbCertEncoded &&
         std::memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// Whether store holds cert itself: the same encoded certificate.
bool InStore(HCERTSTORE store, PCCERT_CONTEXT cert) {
  bool found = false;
  PCCERT_CONTEXT each = nullptr;
  while (!found && (each = CertEnumCertificatesInStore(store, each)) != nullptr) {
    found = SameBytes(each, cert);
  }
  if (each != nullptr) CertFreeCertificateContext(each);
  return found;
}

// What an element's error status may say without counting against it: dates
// are judged apart (an expired certificate is told from an untrusted one),
// revocation is never asked for (no list is fetched at the login prompt),
// and where the chain ends, and whether the system trusts its end, is for
// the file to decide.
constexpr DWORD kJudgedElsewhere =
    CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED |
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION |
    CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN;

// The position in the chain (from the server's certificate up) of the first
// certificate of the trusted file, when every certificate below it is
// signed by the one above it and sound; -1 otherwise. A file certificate is
// trusted for what it is, so its own signature (by whatever issued it, if
// anything) does not count; a certificate above it does not count at all.
int TrustAnchor(const CERT_SIMPLE_CHAIN& chain, HCERTSTORE trusted) {
  for (DWORD i = 0; i < chain.cElement; ++i) {
    const CERT_CHAIN_ELEMENT& element = *chain.rgpElement[i];
    DWORD errors = element.TrustStatus.dwErrorStatus & ~kJudgedElsewhere;
    if (InStore(trusted, element.pCertContext)) {
      errors &= ~static_cast<DWORD>(CERT_TRUST_IS_NOT_SIGNATURE_VALID);
      return errors == 0 ? static_cast<int>(i) : -1;
    }
    if (errors != 0) return -1;
  }
  return -1;
}

// The trusted certificates and those the server sent, for chain building.
CertStore AdditionalStore(HCERTSTORE trusted, PCCERT_CONTEXT cert) {
  CertStore collection(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (collection == nullptr || !CertAddStoreToCollection(collection.get(), trusted, 0, 0)) {
    return nullptr;
  }
  if (cert->hCertStore != nullptr) {
    CertAddStoreToCollection(collection.get(), cert->hCertStore, 0, 0);
  }
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
  // Nothing is fetched while the chain is built: no missing issuer from the
  // address a certificate names, no root from Windows Update, no revocation
  // list. At the login prompt every wait is bounded by the server's
  // time-outs, and a fetch would be bounded by nothing of ours.
  const DWORD offline = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL |
                        CERT_CHAIN_DISABLE_AUTH_ROOT_AUTO_UPDATE;
  PCCERT_CHAIN_CONTEXT raw = nullptr;
  if (!CertGetCertificateChain(nullptr, cert, nullptr, additional.get(), &para, offline,
                               nullptr, &raw)) {
    return CertificateVerdict::kUntrusted;
  }
  Chain chain(raw);
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
    return CertificateVerdict::kUntrusted;
  }
  const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
  const int anchor = TrustAnchor(simple, trusted);
  if (anchor < 0) return CertificateVerdict::kUntrusted;
  for (int i = 0; i <= anchor; ++i) {
    if (CertVerifyTimeValidity(nullptr, simple.rgpElement[i]->pCertContext->pCertInfo) != 0) {
      return CertificateVerdict::kExpired;
    }
  }
  return CheckName(chain.get(), host);
}

}  // namespace platform
}  // namespace wendrel
