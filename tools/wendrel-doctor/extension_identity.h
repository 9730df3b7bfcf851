// Which extension a workstation runs and who signed it, for
// `wendrel-doctor version`.

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_EXTENSION_IDENTITY_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_EXTENSION_IDENTITY_H_

#include <string>

namespace wendrel {
namespace doctor {

enum class Signature {
  kSigned,         // Authenticode: signer_subject and signer_thumbprint are set
  kUnsigned,       // a Windows file without an Authenticode signature
  kNotApplicable,  // a system without Authenticode (the native build)
};

struct ExtensionIdentity {
  std::string version;  // "major.minor.patch"
  std::string path;     // UTF-8; a Windows path on Windows
  Signature signature = Signature::kNotApplicable;
  std::string signer_subject;     // UTF-8, most specific name first: "CN=..., O=..."
  std::string signer_thumbprint;  // SHA-256 of the signer's certificate, upper-case hex
};

// The installed extension: on Windows the DLL its registration names (the
// one the login host loads), else the wendrel.dll beside this program;
// natively the libwendrel.so beside this program. False, with *error set,
// when it is not there or cannot be read.
bool IdentifyInstalledExtension(ExtensionIdentity* identity, std::string* error);

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_EXTENSION_IDENTITY_H_
