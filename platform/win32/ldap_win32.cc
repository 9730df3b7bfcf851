// The LDAP client port over wldap32.
//
// The wide-character entry points are used throughout: the port speaks
// UTF-8 and converts to and from UTF-16 here, so directory text never passes
// through the ANSI code page on its way in or out. Every string and list
// the port hands out is therefore its own copy (malloc), released by
// LdapMemFree / LdapValueFree; results, entries and BER cursors stay
// wldap32's.
//
// wldap32 keeps no library-wide defaults a null handle could set (Wine
// refuses a null handle outright), so the port keeps them: protocol version,
// alias dereferencing, referrals and the network time-out set with a null
// handle are applied to each handle opened afterwards.
//
// What the network time-out does here: it bounds the connection attempt,
// made explicitly with ldap_connect before the first bind, and is set as the
// handle's LDAP_OPT_SEND_TIMEOUT. Windows honours both. Wine 8 ignores the
// ldap_connect time-out (a refused or unreachable port still fails at once,
// a silent peer that accepts TCP is bounded by the caller's ldap_result
// time-out, not by this) and answers LDAP_OPT_SEND_TIMEOUT with 0x5C.
//
// TLS: ldap_sslinit plus a LDAP_OPT_SERVER_CERTIFICATE callback that judges
// the server's certificate against the trusted file with crypt32
// (certificate_check_win32.h). The trusted file of a handle is the one the
// opening thread added last (trusted_file_choice.h); the callback receives
// wldap32's connection and finds the file through the port's handle.
//
// A TLS handle is used only when that callback has judged the server's
// certificate trusted for that very handle. Refused in any other case, with
// the connect error (0x5B) and a trace line:
// - the callback refused the certificate: wldap32 tears the connection
//   down and ldap_connect may report "server down" (0x51), which would
//   make a server that answered look unreachable;
// - ldap_connect succeeded and the callback never ran for this handle (a
//   wldap32 that accepts the option and does not call it, or calls it for
//   another connection): connecting would use a server nobody checked;
// - a trusted file is set and wldap32 refuses the option (Wine's answers it
//   with 0x5C and checks certificates against nothing the program gives
//   it): the handle is refused before it connects.

#include "platform/ldap.h"

#include "platform/ldap_dn.h"
#include "platform/server_probe.h"
#include "platform/trace.h"
#include "platform/trusted_file_choice.h"
#include "platform/win32/certificate_check_win32.h"
#include "platform/win32/ldap_win32_testing.h"

#include <windows.h>
#include <wincrypt.h>
#include <winldap.h>
#include <winber.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>


namespace wendrel {
namespace platform {

// The port's connection: wldap32's handle plus what the port tracks for it.
struct LdapHandle {
  LDAP* ld = nullptr;
  bool connected = false;     // ldap_connect has succeeded
  int connect_error = 0;      // the failed ldap_connect's code, until cleared
  std::wstring host;          // for the certificate's host-name check
  std::string trusted_file;   // TLS: the opening thread's trusted file
  bool tls = false;
  bool certificate_check = false;  // TLS: the callback is installed
  // TLS: the callback's verdict on the server's certificate, once it ran
  // (written by the callback under DefaultsMutex).
  bool judged = false;
  CertificateVerdict verdict = CertificateVerdict::kUnavailable;
  bool certificate_refused = false;  // TLS: never to be connected
  bool has_own_timeout = false;  // set on the handle: bounds its connect alone
  LdapTimeval own_timeout = {0, 0};
};

namespace {

struct Defaults {
  bool has_version = false;
  int version = 3;
  bool has_deref = false;
  int deref = 0;
  bool has_referrals = false;
  int referrals = 0;
  bool has_timeout = false;
  LdapTimeval timeout = {0, 0};
};

std::mutex& DefaultsMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}
Defaults& TheDefaults() {
  static Defaults* defaults = new Defaults;
  return *defaults;
}

// Certificate callbacks receive wldap32's handle; this finds the port's.
// Filled when a TLS handle is opened, emptied when it is unbound.
std::map<LDAP*, LdapHandle*>& TlsHandles() {
  static std::map<LDAP*, LdapHandle*>* handles = new std::map<LDAP*, LdapHandle*>;
  return *handles;
}

thread_local int last_open_error = kLdapSuccess;

// Windows numbers client-side errors 0x51 to 0x61. Wine 8 hands some
// through from the libldap beneath it unmapped (LDAP_OPT_ERROR_NUMBER reads
// -7 after a filter error): those become the Windows numbers the same way.
int ToSdkCode(long rc) {
  if (rc >= 0) return static_cast<int>(rc);
  if (rc >= -17) return static_cast<int>(0x50 - rc);
  return kLdapLocalError;
}

std::wstring Widen(const char* utf8) {
  if (utf8 == nullptr || *utf8 == '\0') return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

// A malloc'ed UTF-8 copy of a wide string; null for null.
char* NarrowCopy(const wchar_t* wide) {
  if (wide == nullptr) return nullptr;
  int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) n = 1;
  char* out = static_cast<char*>(std::malloc(static_cast<size_t>(n)));
  if (out == nullptr) return nullptr;
  out[0] = '\0';
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, n, nullptr, nullptr);
  return out;
}

// A malloc'ed, null-terminated UTF-8 list from a wide one; null for null.
char** NarrowList(wchar_t** wide) {
  if (wide == nullptr) return nullptr;
  size_t count = 0;
  while (wide[count] != nullptr) ++count;
  char** out = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
  if (out == nullptr) return nullptr;
  for (size_t i = 0; i < count; ++i) {
    out[i] = NarrowCopy(wide[i]);
    if (out[i] == nullptr) {
      LdapValueFree(out);
      return nullptr;
    }
  }
  return out;
}

// Wide copies of a null-terminated attribute list, and the pointer array
// wldap32 wants.
class WideList {
 public:
  explicit WideList(char* const* list) {
    if (list == nullptr) return;
    for (char* const* p = list; *p != nullptr; ++p) strings_.push_back(Widen(*p));
    for (std::wstring& s : strings_) pointers_.push_back(&s[0]);
    pointers_.push_back(nullptr);
  }
  wchar_t** get() { return pointers_.empty() ? nullptr : pointers_.data(); }

 private:
  std::vector<std::wstring> strings_;
  std::vector<wchar_t*> pointers_;
};

l_timeval ToLTimeval(const LdapTimeval& tv) {
  l_timeval out;
  out.tv_sec = tv.tv_sec;
  out.tv_usec = tv.tv_usec;
  return out;
}

// The LDAP_OPT_SERVER_CERTIFICATE callback. Although declared with a
// PCCERT_CONTEXT, wldap32 passes a pointer to one, which the callback must
// free before it returns.
BOOLEAN __cdecl CheckServerCertificate(PLDAP connection, PCCERT_CONTEXT server_cert) {
  PCCERT_CONTEXT* slot = reinterpret_cast<PCCERT_CONTEXT*>(const_cast<CERT_CONTEXT*>(server_cert));
  PCCERT_CONTEXT cert = slot != nullptr ? *slot : nullptr;
  std::string trusted;
  std::wstring host;
  {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    auto it = TlsHandles().find(connection);
    if (it != TlsHandles().end()) {
      trusted = it->second->trusted_file;
      host = it->second->host;
    }
  }
  CertificateVerdict verdict = CertificateVerdict::kUnreadable;
  if (!trusted.empty()) {
    CertStore store = LoadCertificateFile(trusted);
    verdict = VerifyServerCertificate(cert, store.get(), host);
  }
  if (cert != nullptr) CertFreeCertificateContext(cert);
  {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    auto it = TlsHandles().find(connection);
    if (it != TlsHandles().end()) {
      it->second->judged = true;
      it->second->verdict = verdict;
    }
  }
  if (verdict != CertificateVerdict::kTrusted) {
    Trace("LDAP: server certificate refused: %s\n", CertificateVerdictName(verdict));
  }
  return verdict == CertificateVerdict::kTrusted ? TRUE : FALSE;
}

void ApplyDefaults(LdapHandle* h, const Defaults& d) {
  if (d.has_version) {
    ULONG v = static_cast<ULONG>(d.version);
    ldap_set_optionW(h->ld, LDAP_OPT_PROTOCOL_VERSION, &v);
  }
  if (d.has_deref) {
    ULONG v = static_cast<ULONG>(d.deref);
    ldap_set_optionW(h->ld, LDAP_OPT_DEREF, &v);
  }
  if (d.has_referrals) {
    ldap_set_optionW(h->ld, LDAP_OPT_REFERRALS, d.referrals != 0 ? LDAP_OPT_ON : LDAP_OPT_OFF);
  }
  if (d.has_timeout) {
    l_timeval tv = ToLTimeval(d.timeout);
    ldap_set_optionW(h->ld, LDAP_OPT_SEND_TIMEOUT, &tv);  // Wine: 0x5C, ignored
  }
}

std::atomic<bool> g_skip_certificate_callback{false};

LdapHandle* Open(const char* host, int port, bool tls) {
  last_open_error = kLdapParamError;
  if (port <= 0 || port > 65535) return nullptr;
  std::unique_ptr<LdapHandle> h(new LdapHandle);
  h->host = Widen(host != nullptr && *host != '\0' ? host : "localhost");
  h->tls = tls;
  if (tls) h->trusted_file = ChosenTrustedFile();
  h->ld = tls ? ldap_sslinitW(&h->host[0], static_cast<ULONG>(port), 1)
              : ldap_initW(&h->host[0], static_cast<ULONG>(port));
  if (h->ld == nullptr) {
    ULONG err = LdapGetLastError();
    last_open_error = err != 0 ? static_cast<int>(err) : kLdapLocalError;
    return nullptr;
  }
  Defaults d;
  {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    d = TheDefaults();
    if (tls) TlsHandles()[h->ld] = h.get();
  }
  ApplyDefaults(h.get(), d);
  if (tls && g_skip_certificate_callback.load()) {
    h->certificate_check = true;  // as if accepted; never installed, never called
  } else if (tls) {
    h->certificate_check =
        ldap_set_optionW(h->ld, LDAP_OPT_SERVER_CERTIFICATE,
                         reinterpret_cast<void*>(&CheckServerCertificate)) == LDAP_SUCCESS;
  }
  last_open_error = kLdapSuccess;
  return h.release();
}

// A TLS handle that must never be connected (see the file comment).
bool RefuseCertificate(LdapHandle* h, const char* why) {
  Trace("LDAP: TLS server %ls not used: %s\n", h->host.c_str(), why);
  h->certificate_refused = true;
  h->connect_error = kLdapConnectError;
  return false;
}

// After ldap_connect on a TLS handle with the callback: whether the
// callback judged this handle's server trusted. False (the handle refused)
// when it refused the certificate, or when the connection was made without
// it; a connection that failed before any verdict keeps its own code.
bool CertificateAccepted(LdapHandle* h, ULONG connect_rc) {
  bool judged = false;
  CertificateVerdict verdict = CertificateVerdict::kUnavailable;
  {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    judged = h->judged;
    verdict = h->verdict;
  }
  if (judged && verdict != CertificateVerdict::kTrusted) {
    return RefuseCertificate(h, "its certificate was refused");
  }
  if (connect_rc == LDAP_SUCCESS && !judged) {
    return RefuseCertificate(h, "the LDAP library connected without checking its certificate");
  }
  return true;
}

// Connects before the first operation, within the library-wide network
// time-out when one is set.
bool EnsureConnected(LdapHandle* h) {
  if (h->connected) return true;
  if (h->certificate_refused) return false;
  if (h->tls && !h->trusted_file.empty() && !h->certificate_check) {
    return RefuseCertificate(h, "the LDAP library refused the server-certificate check, so "
                                "the trusted certificate file cannot be applied");
  }
  bool has_timeout = h->has_own_timeout;
  l_timeval tv = {0, 0};
  if (has_timeout) {
    tv = ToLTimeval(h->own_timeout);
  } else {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    has_timeout = TheDefaults().has_timeout;
    if (has_timeout) tv = ToLTimeval(TheDefaults().timeout);
  }
  ULONG rc = ldap_connect(h->ld, has_timeout ? &tv : nullptr);
  if (h->tls && h->certificate_check && !CertificateAccepted(h, rc)) return false;
  if (rc != LDAP_SUCCESS) {
    h->connect_error = ToSdkCode(static_cast<LONG>(rc));
    return false;
  }
  h->connected = true;
  h->connect_error = 0;
  return true;
}

}  // namespace

LdapHandle* LdapInit(const char* host, int port) { return Open(host, port, false); }

LdapHandle* LdapSslInit(const char* host, int port, int secure) {
  return Open(host, port, secure != 0);
}

int LdapUnbind(LdapHandle* ld) {
  if (ld == nullptr) return kLdapParamError;
  {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    TlsHandles().erase(ld->ld);
  }
  ULONG rc = ldap_unbind(ld->ld);
  delete ld;
  return ToSdkCode(static_cast<LONG>(rc));
}

int LdapSetOption(LdapHandle* ld, int option, const void* value) {
  if (option == kLdapOptNetworkTimeout) {
    if (ld != nullptr) {
      ld->has_own_timeout = value != nullptr;
      if (value != nullptr) {
        ld->own_timeout = *static_cast<const LdapTimeval*>(value);
        l_timeval tv = ToLTimeval(ld->own_timeout);
        ldap_set_optionW(ld->ld, LDAP_OPT_SEND_TIMEOUT, &tv);  // Wine: 0x5C, ignored
      }
      return kLdapSuccess;
    }
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    TheDefaults().has_timeout = value != nullptr;
    if (value != nullptr) TheDefaults().timeout = *static_cast<const LdapTimeval*>(value);
    return kLdapSuccess;
  }
  if (option != kLdapOptDeref && option != kLdapOptReferrals &&
      option != kLdapOptProtocolVersion) {
    return kLdapParamError;
  }
  if (value == nullptr) return kLdapParamError;
  int v = *static_cast<const int*>(value);
  if (ld == nullptr) {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    Defaults& d = TheDefaults();
    if (option == kLdapOptDeref) {
      d.has_deref = true;
      d.deref = v;
    } else if (option == kLdapOptReferrals) {
      d.has_referrals = true;
      d.referrals = v;
    } else {
      d.has_version = true;
      d.version = v;
    }
    return kLdapSuccess;
  }
  if (option == kLdapOptReferrals) {
    return ToSdkCode(static_cast<LONG>(
        ldap_set_optionW(ld->ld, LDAP_OPT_REFERRALS, v != 0 ? LDAP_OPT_ON : LDAP_OPT_OFF)));
  }
  ULONG u = static_cast<ULONG>(v);
  return ToSdkCode(static_cast<LONG>(ldap_set_optionW(ld->ld, option, &u)));
}

int LdapGetOption(LdapHandle* ld, int option, void* out) {
  if (out == nullptr) return kLdapParamError;
  if (option == kLdapOptNetworkTimeout) {
    if (ld != nullptr) return kLdapParamError;
    LdapTimeval* copy = nullptr;
    {
      std::lock_guard<std::mutex> lock(DefaultsMutex());
      if (TheDefaults().has_timeout) {
        copy = static_cast<LdapTimeval*>(std::malloc(sizeof(LdapTimeval)));
        if (copy == nullptr) return kLdapNoMemory;
        *copy = TheDefaults().timeout;
      }
    }
    *static_cast<LdapTimeval**>(out) = copy;
    return kLdapSuccess;
  }
  int* result = static_cast<int*>(out);
  if (option == kLdapOptResultCode) {
    if (ld == nullptr) {
      *result = last_open_error;
      return kLdapSuccess;
    }
    if (ld->connect_error != 0) {
      *result = ld->connect_error;
      return kLdapSuccess;
    }
    ULONG code = 0;
    ULONG rc = ldap_get_optionW(ld->ld, LDAP_OPT_ERROR_NUMBER, &code);
    if (rc == LDAP_SUCCESS) *result = ToSdkCode(static_cast<LONG>(code));
    return ToSdkCode(static_cast<LONG>(rc));
  }
  if (option != kLdapOptDeref && option != kLdapOptReferrals &&
      option != kLdapOptProtocolVersion) {
    return kLdapParamError;
  }
  if (ld == nullptr) {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    const Defaults& d = TheDefaults();
    *result = option == kLdapOptDeref      ? d.deref
              : option == kLdapOptReferrals ? (d.has_referrals ? d.referrals != 0 : 1)
                                            : (d.has_version ? d.version : 3);
    return kLdapSuccess;
  }
  ULONG value = 0;
  ULONG rc = ldap_get_optionW(ld->ld, option, &value);
  if (rc == LDAP_SUCCESS) {
    *result = option == kLdapOptReferrals ? (value != 0) : static_cast<int>(value);
  }
  return ToSdkCode(static_cast<LONG>(rc));
}

int LdapSimpleBind(LdapHandle* ld, const char* dn, const char* password) {
  if (ld == nullptr) return -1;
  if (!EnsureConnected(ld)) return -1;
  std::wstring wdn = Widen(dn);
  std::wstring wpw = Widen(password);
  ULONG msgid = ldap_simple_bindW(ld->ld, &wdn[0], &wpw[0]);
  return msgid == static_cast<ULONG>(-1) ? -1 : static_cast<int>(msgid);
}

int LdapResult(LdapHandle* ld, int msgid, int all, const LdapTimeval* timeout,
               LdapMessage** result) {
  if (ld == nullptr || result == nullptr) return -1;
  *result = nullptr;
  l_timeval tv;
  if (timeout != nullptr) tv = ToLTimeval(*timeout);
  LDAPMessage* msg = nullptr;
  ULONG type = ldap_result(ld->ld, static_cast<ULONG>(msgid), static_cast<ULONG>(all),
                           timeout != nullptr ? &tv : nullptr, &msg);
  *result = reinterpret_cast<LdapMessage*>(msg);
  return type == static_cast<ULONG>(-1) ? -1 : static_cast<int>(type);
}

int LdapSearchExtS(LdapHandle* ld, const char* base, int scope, const char* filter,
                   char* const* attrs, int attrsonly, LdapControl** server_controls,
                   LdapControl** client_controls, const LdapTimeval* timeout, int sizelimit,
                   LdapMessage** result) {
  if (result != nullptr) *result = nullptr;
  if (ld == nullptr || result == nullptr || server_controls != nullptr ||
      client_controls != nullptr) {
    return kLdapParamError;
  }
  if (!EnsureConnected(ld)) return ld->connect_error;
  std::wstring wbase = Widen(base);
  std::wstring wfilter = Widen(filter);
  WideList wattrs(attrs);
  l_timeval tv;
  if (timeout != nullptr) tv = ToLTimeval(*timeout);
  LDAPMessage* msg = nullptr;
  ULONG rc = ldap_search_ext_sW(ld->ld, &wbase[0], static_cast<ULONG>(scope), &wfilter[0],
                                wattrs.get(), static_cast<ULONG>(attrsonly), nullptr, nullptr,
                                timeout != nullptr ? &tv : nullptr,
                                static_cast<ULONG>(sizelimit), &msg);
  *result = reinterpret_cast<LdapMessage*>(msg);
  return ToSdkCode(static_cast<LONG>(rc));
}

int LdapSearchExt(LdapHandle* ld, const char* base, int scope, const char* filter,
                  char* const* attrs, int attrsonly, LdapControl** server_controls,
                  LdapControl** client_controls, const LdapTimeval* timeout, int sizelimit,
                  int* msgid) {
  if (ld == nullptr || msgid == nullptr || server_controls != nullptr ||
      client_controls != nullptr) {
    return kLdapParamError;
  }
  if (!EnsureConnected(ld)) return ld->connect_error;
  std::wstring wbase = Widen(base);
  std::wstring wfilter = Widen(filter);
  WideList wattrs(attrs);
  // wldap32 takes the asynchronous search's limit in whole seconds.
  ULONG seconds = 0;
  if (timeout != nullptr && (timeout->tv_sec > 0 || timeout->tv_usec > 0)) {
    seconds = static_cast<ULONG>(timeout->tv_sec > 0 ? timeout->tv_sec : 0) +
              (timeout->tv_usec > 0 ? 1 : 0);
  }
  ULONG id = 0;
  ULONG rc = ldap_search_extW(ld->ld, &wbase[0], static_cast<ULONG>(scope), &wfilter[0],
                              wattrs.get(), static_cast<ULONG>(attrsonly), nullptr, nullptr,
                              seconds, static_cast<ULONG>(sizelimit), &id);
  if (rc == LDAP_SUCCESS) *msgid = static_cast<int>(id);
  return ToSdkCode(static_cast<LONG>(rc));
}

int LdapResult2Error(LdapHandle* ld, LdapMessage* result, int freeit) {
  if (ld == nullptr) return kLdapParamError;
  return ToSdkCode(static_cast<LONG>(ldap_result2error(
      ld->ld, reinterpret_cast<LDAPMessage*>(result), static_cast<ULONG>(freeit))));
}

LdapMessage* LdapFirstEntry(LdapHandle* ld, LdapMessage* result) {
  if (ld == nullptr || result == nullptr) return nullptr;
  return reinterpret_cast<LdapMessage*>(
      ldap_first_entry(ld->ld, reinterpret_cast<LDAPMessage*>(result)));
}

LdapMessage* LdapNextEntry(LdapHandle* ld, LdapMessage* entry) {
  if (ld == nullptr || entry == nullptr) return nullptr;
  return reinterpret_cast<LdapMessage*>(
      ldap_next_entry(ld->ld, reinterpret_cast<LDAPMessage*>(entry)));
}

char* LdapGetDn(LdapHandle* ld, LdapMessage* entry) {
  if (ld == nullptr || entry == nullptr) return nullptr;
  wchar_t* dn = ldap_get_dnW(ld->ld, reinterpret_cast<LDAPMessage*>(entry));
  if (dn == nullptr) return nullptr;
  char* out = NarrowCopy(dn);
  ldap_memfreeW(dn);
  return out;
}

char** LdapExplodeDn(const char* dn, int notypes) {
  // Not ldap_explode_dn: Wine's hex-escapes every non-ASCII byte.
  std::vector<std::string> rdns;
  if (dn == nullptr || !ExplodeDn(dn, notypes != 0, &rdns)) return nullptr;
  char** out = static_cast<char**>(std::calloc(rdns.size() + 1, sizeof(char*)));
  for (size_t i = 0; out != nullptr && i < rdns.size(); ++i) {
    out[i] = static_cast<char*>(std::malloc(rdns[i].size() + 1));
    if (out[i] == nullptr) {
      LdapValueFree(out);
      return nullptr;
    }
    std::memcpy(out[i], rdns[i].c_str(), rdns[i].size() + 1);
  }
  return out;
}

char* LdapFirstAttribute(LdapHandle* ld, LdapMessage* entry, LdapBer** ber) {
  if (ber != nullptr) *ber = nullptr;
  if (ld == nullptr || entry == nullptr || ber == nullptr) return nullptr;
  BerElement* cursor = nullptr;
  wchar_t* name = ldap_first_attributeW(ld->ld, reinterpret_cast<LDAPMessage*>(entry), &cursor);
  *ber = reinterpret_cast<LdapBer*>(cursor);
  if (name == nullptr) return nullptr;
  char* out = NarrowCopy(name);
  ldap_memfreeW(name);
  return out;
}

char* LdapNextAttribute(LdapHandle* ld, LdapMessage* entry, LdapBer* ber) {
  if (ld == nullptr || entry == nullptr || ber == nullptr) return nullptr;
  wchar_t* name = ldap_next_attributeW(ld->ld, reinterpret_cast<LDAPMessage*>(entry),
                                       reinterpret_cast<BerElement*>(ber));
  if (name == nullptr) return nullptr;
  char* out = NarrowCopy(name);
  ldap_memfreeW(name);
  return out;
}

char** LdapGetValues(LdapHandle* ld, LdapMessage* entry, const char* attr) {
  if (ld == nullptr || entry == nullptr || attr == nullptr) return nullptr;
  std::wstring wattr = Widen(attr);
  wchar_t** values = ldap_get_valuesW(ld->ld, reinterpret_cast<LDAPMessage*>(entry), &wattr[0]);
  if (values == nullptr) return nullptr;
  char** out = NarrowList(values);
  ldap_value_freeW(values);
  return out;
}

void LdapValueFree(char** values) {
  if (values == nullptr) return;
  for (char** p = values; *p != nullptr; ++p) std::free(*p);
  std::free(values);
}

void LdapMemFree(void* p) { std::free(p); }

int LdapMsgFree(LdapMessage* msg) {
  if (msg == nullptr) return 0;
  return static_cast<int>(ldap_msgfree(reinterpret_cast<LDAPMessage*>(msg)));
}

void LdapBerFree(LdapBer* ber, int freebuf) {
  if (ber != nullptr) ber_free(reinterpret_cast<BerElement*>(ber), freebuf);
}

namespace {
std::atomic<bool> g_fail_ssl_client_init{false};
}  // namespace

void FailSslClientInitForTesting(bool fail) { g_fail_ssl_client_init.store(fail); }

void SkipServerCertificateCallbackForTesting(bool skip) {
  g_skip_certificate_callback.store(skip);
}

VERIFYSERVERCERT* ServerCertificateCallbackForTesting() { return &CheckServerCertificate; }

LDAP* WldapConnectionForTesting(LdapHandle* ld) { return ld != nullptr ? ld->ld : nullptr; }

int LdapSslClientInit(const void* reserved1, const void* reserved2) {
  if (g_fail_ssl_client_init.load()) return kLdapLocalError;
  // wldap32 brings up its TLS provider with the first TLS connection.
  return 0;
}

int LdapSslClientDeinit() {
  ForgetTrustedFiles();
  return 0;
}

int LdapSslAddTrustedCert(const char* path, int cert_type) {
  if (path == nullptr || cert_type != kLdapCertFilePem) return kLdapParamError;
  // The file must hold at least one certificate crypt32 can read, in DER or
  // PEM; the callback reads it again per connection.
  if (LoadCertificateFile(path) == nullptr) return kLdapLocalError;
  ChooseTrustedFile(path);
  return 0;
}

CertificateVerdict ProbeServerCertificate(const std::string& host, int port,
                                          const std::string& trusted_file, int timeout_ms) {
  if (LoadCertificateFile(trusted_file) == nullptr) return CertificateVerdict::kUnreadable;
  if (port <= 0 || port > 65535 || timeout_ms < 0) return CertificateVerdict::kUnavailable;
  LdapHandle probe;
  probe.host = Widen(host.empty() ? "localhost" : host.c_str());
  probe.tls = true;
  probe.trusted_file = trusted_file;
  probe.ld = ldap_sslinitW(&probe.host[0], static_cast<ULONG>(port), 1);
  if (probe.ld == nullptr) return CertificateVerdict::kUnavailable;
  {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    TlsHandles()[probe.ld] = &probe;
  }
  // Without the callback wldap32 would judge nothing the file says.
  if (ldap_set_optionW(probe.ld, LDAP_OPT_SERVER_CERTIFICATE,
                       reinterpret_cast<void*>(&CheckServerCertificate)) == LDAP_SUCCESS) {
    l_timeval tv = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    ldap_connect(probe.ld, &tv);
  }
  CertificateVerdict verdict;
  {
    std::lock_guard<std::mutex> lock(DefaultsMutex());
    TlsHandles().erase(probe.ld);
    verdict = probe.judged ? probe.verdict : CertificateVerdict::kUnavailable;
  }
  ldap_unbind(probe.ld);
  return verdict;
}

}  // namespace platform
}  // namespace wendrel
