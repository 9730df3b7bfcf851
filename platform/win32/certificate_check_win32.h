// The Windows server-certificate check: a server's certificate judged with
// crypt32 against the certificates of the trusted file. The LDAP port's
// server-certificate callback and the server probe run it; tests call it
// directly with certificate contexts made from files, since Wine's wldap32
// never calls the callback.

#ifndef WENDREL_PLATFORM_WIN32_CERTIFICATE_CHECK_WIN32_H_
#define WENDREL_PLATFORM_WIN32_CERTIFICATE_CHECK_WIN32_H_

#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>

#include "platform/server_probe.h"

namespace wendrel {
namespace platform {

struct CertStoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using CertStore = std::unique_ptr<void, CertStoreCloser>;

// A memory store holding every certificate of the file at path: one or
// more in PEM, or one in DER. Null when the file cannot be read or holds
// no certificate crypt32 can decode.
CertStore LoadCertificateFile(const std::string& path);

// The verdict on `cert` (with the certificates the server sent in its
// hCertStore) against the certificates of `trusted`, for the server name
// `host`:
// - the chain is built by the default engine with the trusted certificates
//   as an additional store; it must run through one of them, and an
//   untrusted root is accepted only when that root is one of them;
// - every certificate of the chain must be within its dates;
// - the SSL server policy must accept the chain for `host`.
CertificateVerdict VerifyServerCertificate(PCCERT_CONTEXT cert, HCERTSTORE trusted,
                                           const std::wstring& host);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_WIN32_CERTIFICATE_CHECK_WIN32_H_
