// Certificate files as administrators have them: one certificate in DER
// (a .cer exported that way), or one or more in PEM. Read with GnuTLS.

#ifndef WENDREL_PLATFORM_POSIX_CERTIFICATE_FILE_H_
#define WENDREL_PLATFORM_POSIX_CERTIFICATE_FILE_H_

#include <string>

namespace wendrel {
namespace platform {

// Every certificate of the file at path, as PEM text in file order. False
// when the file cannot be read or is neither a PEM file of certificates nor
// one DER certificate.
bool ReadCertificateFileAsPem(const std::string& path, std::string* pem);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_POSIX_CERTIFICATE_FILE_H_
