// On Windows: the DLL the registration names, its version resource, and the
// signer of its Authenticode signature as CryptQueryObject reads it. Whether
// the signature is trusted is Windows' judgement (WinVerifyTrust, the
// application-control policy); this reports who signed, so that an
// administrator can compare it with the publisher they expect.

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "config/registry_paths.h"
#include "extension_identity.h"
#include "platform/codepage.h"

namespace wendrel {
namespace doctor {
namespace {

constexpr wchar_t kExtensionValueName[] = L"LoginExtName";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct CertStoreCloser {
  void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
struct CryptMsgCloser {
  void operator()(HCRYPTMSG message) const { CryptMsgClose(message); }
};
struct CertContextFreer {
  void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using CertStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, CertStoreCloser>;
using CryptMessage = std::unique_ptr<std::remove_pointer_t<HCRYPTMSG>, CryptMsgCloser>;
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFreer>;

std::string ToUtf8(const std::wstring& wide) {
  return platform::Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

std::wstring ToWide(const std::u16string& utf16) {
  return std::wstring(utf16.begin(), utf16.end());
}

std::wstring ErrorText(DWORD code) {
  wchar_t buffer[512];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, buffer, 512, nullptr);
  while (length > 0 && (buffer[length - 1] == L'\n' || buffer[length - 1] == L'\r' ||
                        buffer[length - 1] == L'.')) {
    --length;
  }
  wchar_t number[16];
  swprintf(number, 16, L"error %lu", static_cast<unsigned long>(code));
  return length > 0 ? std::wstring(buffer, length) + L" (" + number + L")" : number;
}

// The registration's path with its environment variables expanded, or false
// when the extension is not registered.
bool RegisteredPath(std::wstring* path) {
  const std::wstring key = ToWide(platform::AnsiToUtf16(kOptionsKeyPath));
  DWORD size = 0;
  const DWORD kTypes = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), kExtensionValueName, kTypes, nullptr,
                   nullptr, &size) != ERROR_SUCCESS) {
    return false;
  }
  std::vector<wchar_t> raw(size / sizeof(wchar_t) + 1);
  size = static_cast<DWORD>(raw.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), kExtensionValueName, kTypes, nullptr,
                   raw.data(), &size) != ERROR_SUCCESS || raw[0] == L'\0') {
    return false;
  }
  const DWORD needed = ExpandEnvironmentStringsW(raw.data(), nullptr, 0);
  if (needed == 0) return false;
  std::vector<wchar_t> expanded(needed);
  if (ExpandEnvironmentStringsW(raw.data(), expanded.data(), needed) == 0) return false;
  *path = expanded.data();
  return true;
}

// wendrel.dll in this program's folder.
bool PathBesideThisProgram(std::wstring* path) {
  std::vector<wchar_t> self(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, self.data(), self.size());
    if (length == 0) return false;
    if (length < self.size()) break;
    if (self.size() >= 32768) return false;
    self.resize(self.size() * 2);
  }
  *path = self.data();
  path->erase(path->find_last_of(L"\\/") + 1);
  *path += L"wendrel.dll";
  return true;
}

bool ReadVersion(const std::wstring& path, std::string* version, std::wstring* error) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) {
    *error = L"no version resource in " + path + L": " + ErrorText(GetLastError());
    return false;
  }
  std::vector<unsigned char> data(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
      !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
      fixed == nullptr || fixed_size < sizeof(VS_FIXEDFILEINFO)) {
    *error = L"cannot read the version resource of " + path;
    return false;
  }
  *version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
             std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
             std::to_string(HIWORD(fixed->dwFileVersionLS));
  return true;
}

std::string Thumbprint(PCCERT_CONTEXT certificate) {
  BYTE hash[32];
  DWORD size = sizeof(hash);
  if (!CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, certificate->pbCertEncoded,
                             certificate->cbCertEncoded, hash, &size) ||
      size != sizeof(hash)) {
    return "";
  }
  std::string hex;
  for (BYTE byte : hash) {
    char two[3];
    std::snprintf(two, sizeof(two), "%02X", byte);
    hex += two;
  }
  return hex;
}

std::string SubjectName(PCCERT_CONTEXT certificate) {
  // Most specific part first ("CN=..., O=..."), as Windows shows a subject.
  const DWORD kFormat = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  CERT_NAME_BLOB* subject = &certificate->pCertInfo->Subject;
  const DWORD length = CertNameToStrW(kEncoding, subject, kFormat, nullptr, 0);
  if (length <= 1) return "";
  std::vector<wchar_t> text(length);
  CertNameToStrW(kEncoding, subject, kFormat, text.data(), length);
  return ToUtf8(text.data());
}

// The signer of the file's embedded Authenticode signature. False with
// *error empty when the file carries none.
bool ReadSigner(const std::wstring& path, ExtensionIdentity* identity, std::wstring* error) {
  HCERTSTORE raw_store = nullptr;
  HCRYPTMSG raw_message = nullptr;
  DWORD encoding = 0, content = 0, format = 0;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                        CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                        0, &encoding, &content, &format, &raw_store, &raw_message, nullptr)) {
    return false;
  }
  CertStore store(raw_store);
  CryptMessage message(raw_message);
  DWORD size = 0;
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
    *error = L"cannot read the signature of " + path + L": " + ErrorText(GetLastError());
    return false;
  }
  std::vector<BYTE> buffer(size);
  if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
    *error = L"cannot read the signature of " + path + L": " + ErrorText(GetLastError());
    return false;
  }
  const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
  CERT_INFO wanted = {};
  wanted.Issuer = signer->Issuer;
  wanted.SerialNumber = signer->SerialNumber;
  CertContext certificate(CertFindCertificateInStore(store.get(), kEncoding, 0,
                                                     CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
  if (certificate == nullptr) {
    *error = L"the signature of " + path + L" does not carry its signer's certificate";
    return false;
  }
  identity->signer_subject = SubjectName(certificate.get());
  identity->signer_thumbprint = Thumbprint(certificate.get());
  if (identity->signer_thumbprint.empty()) {
    *error = L"cannot hash the signer's certificate of " + path;
    return false;
  }
  identity->signature = Signature::kSigned;
  return true;
}

}  // namespace

bool IdentifyInstalledExtension(ExtensionIdentity* identity, std::string* error) {
  std::wstring path;
  if (!RegisteredPath(&path) && !PathBesideThisProgram(&path)) {
    *error = "the extension is not registered, and this program's folder is unknown";
    return false;
  }
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *error = "no extension at " + ToUtf8(path);
    return false;
  }
  std::wstring problem;
  if (!ReadVersion(path, &identity->version, &problem)) {
    *error = ToUtf8(problem);
    return false;
  }
  identity->path = ToUtf8(path);
  identity->signature = Signature::kUnsigned;
  if (!ReadSigner(path, identity, &problem) && !problem.empty()) {
    *error = ToUtf8(problem);
    return false;
  }
  return true;
}

}  // namespace doctor
}  // namespace wendrel
