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
// more in PEM, or one in DER; each one kept, even two of the same issuer
// and serial number. Null when the file cannot be read or holds no
// certificate crypt32 can decode.
CertStore LoadCertificateFile(const std::string& path);

// The verdict on `cert` (with the certificates the server sent in its
// hCertStore) against the certificates of `trusted`, for the server name
// `host`:
// - the chain is built by the default engine with the trusted certificates
//   as an additional store, fetching nothing from the network;
// - trust is decided at the first certificate of the chain, from the
//   server's up, that is one of the file's (the same encoded bytes): every
//   certificate below it must be validly signed by the one above and sound
//   as the engine judges it. What lies above that certificate does not
//   count, so a file holding an intermediate CA trusts what it issued;
// - every certificate up to that one must be within its dates;
// - the SSL server policy must accept the chain for `host`.
CertificateVerdict VerifyServerCertificate(PCCERT_CONTEXT cert, HCERTSTORE trusted,
                                           const std::wstring& host);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_WIN32_CERTIFICATE_CHECK_WIN32_H_
