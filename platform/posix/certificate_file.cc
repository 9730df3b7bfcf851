#include "platform/posix/certificate_file.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include "platform/whole_file.h"

namespace wendrel {
namespace platform {
namespace {

// Far beyond any certificate file; a larger file is not read into memory.
constexpr size_t kMaxFileSize = 4 << 20;

bool AppendPem(gnutls_x509_crt_t cert, std::string* pem) {
  gnutls_datum_t out = {nullptr, 0};
  if (gnutls_x509_crt_export2(cert, GNUTLS_X509_FMT_PEM, &out) < 0) return false;
  pem->append(reinterpret_cast<const char*>(out.data), out.size);
  gnutls_free(out.data);
  return true;
}

}  // namespace

bool ReadCertificateFileAsPem(const std::string& path, std::string* pem) {
  std::string bytes;
  if (!ReadWholeFile(path, kMaxFileSize, &bytes)) return false;
  gnutls_datum_t data = {reinterpret_cast<unsigned char*>(&bytes[0]),
                         static_cast<unsigned int>(bytes.size())};
  std::string out;
  bool ok = false;

  gnutls_x509_crt_t* list = nullptr;
  unsigned int count = 0;
  if (gnutls_x509_crt_list_import2(&list, &count, &data, GNUTLS_X509_FMT_PEM, 0) >= 0) {
    ok = count > 0;
    for (unsigned int i = 0; i < count; ++i) {
      ok = ok && AppendPem(list[i], &out);
      gnutls_x509_crt_deinit(list[i]);
    }
    gnutls_free(list);
  } else {
    gnutls_x509_crt_t cert = nullptr;
    if (gnutls_x509_crt_init(&cert) >= 0) {
      ok = gnutls_x509_crt_import(cert, &data, GNUTLS_X509_FMT_DER) >= 0 && AppendPem(cert, &out);
      gnutls_x509_crt_deinit(cert);
    }
  }
  if (ok) *pem = out;
  return ok;
}

}  // namespace platform
}  // namespace wendrel
