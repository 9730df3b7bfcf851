// The LDAP client port over OpenLDAP's libldap.
//
// Most calls map one to one. What this file adds: the SDK numbering of
// client-side result codes (OpenLDAP's -n becomes 0x50+n), the conversion of
// LdapTimeval to struct timeval and back, ldap_init's "host, port" as an
// LDAP URI, and the TLS companion expressed in OpenLDAP's TLS options.
//
// The trusted certificate file may be DER or PEM. GnuTLS under libldap
// reads CA files in PEM only, so the file is read once when it is added
// (certificate_file.h) and each TLS connection gets its certificates as PEM
// through an in-memory file. The file added is the adding thread's
// (trusted_file_choice.h).

// The classic calls the extension is written against (ldap_get_values,
// ldap_value_free, ldap_result2error) are "deprecated" in OpenLDAP only in
// favour of the berval forms; they are fully supported.
#define LDAP_DEPRECATED 1

#include "platform/ldap.h"

#include "platform/ldap_dn.h"
#include "platform/posix/certificate_file.h"
#include "platform/trusted_file_choice.h"

#include <errno.h>
#include <ldap.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// This file's thread-local state is a few bytes in a library that is never
// unloaded, so it is placed in the static TLS block (initial-exec): every
// access is a load from the thread pointer, with no __tls_get_addr call and
// no dynamic TLS block allocated on a thread's first touch. LeakSanitizer's
// exit scan misread such a dynamic block (its tracer faulted on a bogus
// range) in the lifecycle stress test, where the library is loaded and torn
// down with its threads at every moment.
#define WENDREL_INITIAL_EXEC_TLS __attribute__((tls_model("initial-exec")))

namespace wendrel {
namespace platform {
namespace {

// Result code of this thread's last failed LdapInit / LdapSslInit, reported
// for kLdapOptResultCode with a null handle: a failed open has no handle to
// carry it. 0 after a successful open.
WENDREL_INITIAL_EXEC_TLS thread_local int last_open_error = kLdapSuccess;

// An anonymous in-memory file holding `text`, with a path the TLS library
// can open while it lives. Closed by the destructor.
class MemoryFile {
 public:
  explicit MemoryFile(const std::string& text) : fd_(memfd_create("wendrel-ca", MFD_CLOEXEC)) {
    size_t done = 0;
    while (fd_ >= 0 && done < text.size()) {
      ssize_t n = write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        close(fd_);
        fd_ = -1;
        break;
      }
      done += static_cast<size_t>(n);
    }
  }
  ~MemoryFile() {
    if (fd_ >= 0) close(fd_);
  }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

 private:
  int fd_;
};

// OpenLDAP numbers client-side errors -1 (server down) to -17 (referral
// limit exceeded); the SDK and wldap32 number the same list 0x51 to 0x61.
// Any other negative code (OpenLDAP's private extensions) is a local error.
int ToSdkCode(int rc) {
  if (rc >= 0) return rc;
  if (rc >= -17) return 0x50 - rc;
  return kLdapLocalError;
}

LDAP* Ld(LdapHandle* ld) { return reinterpret_cast<LDAP*>(ld); }

// libldap sets up its process-wide options on the first call that needs
// them, and that set-up is not guarded: two threads opening their first
// handles at once (the parallel TLS probes do) both write the options and
// their mutex. Every way into the library that can come first passes here,
// and the function-local static makes the one set-up happen once, with the
// others waiting for it.
void InitializeLibraryOnce() {
  static const bool initialized = [] {
    int version = 0;
    return ldap_get_option(nullptr, LDAP_OPT_PROTOCOL_VERSION, &version) == LDAP_OPT_SUCCESS;
  }();
  (void)initialized;
}
LDAPMessage* Msg(LdapMessage* m) { return reinterpret_cast<LDAPMessage*>(m); }

struct timeval ToTimeval(const LdapTimeval& tv) {
  struct timeval out;
  out.tv_sec = tv.tv_sec;
  out.tv_usec = tv.tv_usec;
  return out;
}

// "host" or "host:port" (one of ldap_init's space-separated list) plus the
// default port, as "scheme://host:port". IPv6 literals get their brackets.
bool AppendUri(const std::string& item, int port, const char* scheme, std::string* uri) {
  std::string host = item;
  std::string item_port;
  size_t colon = item.rfind(':');
  bool ipv6 = item.find(':') != colon;  // more than one colon, no brackets
  if (!item.empty() && item[0] == '[') {
    size_t close = item.find(']');
    if (close == std::string::npos) return false;
    host = item.substr(0, close + 1);
    if (close + 1 < item.size()) {
      if (item[close + 1] != ':') return false;
      item_port = item.substr(close + 2);
    }
  } else if (ipv6) {
    host = "[" + item + "]";
  } else if (colon != std::string::npos) {
    host = item.substr(0, colon);
    item_port = item.substr(colon + 1);
  }
  for (char c : item_port) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  if (host.empty()) return false;
  if (!uri->empty()) *uri += ' ';
  *uri += scheme;
  *uri += "://" + host + ':' + (item_port.empty() ? std::to_string(port) : item_port);
  return true;
}

// The TLS handshake under the network time-out.
//
// libldap 2.5 with GnuTLS does not bound the handshake: with a network
// time-out set it makes the socket non-blocking for the handshake, and when
// the peer accepts TCP and never answers, GnuTLS's reads keep failing with
// EAGAIN and libldap calls the handshake again at once, without waiting:
// the bind never returns and spins the CPU. Neither the network time-out
// nor an API time-out reaches that loop.
//
// So each TLS connection gets a Sockbuf layer of ours between the TLS layer
// and the TCP provider, pushed by a connect callback right after the TCP
// connection is made (before the handshake): a read or write that would
// block waits in poll() until the data can move, at the latest until the
// network time-out has passed since the connection was made, and then fails
// with ETIMEDOUT. GnuTLS takes that as a transport error and the handshake,
// and with it the bind, fails with "server down". The layer is removed once
// the first operation (LdapSimpleBind, or a search made without one) has
// set the connection up, so the library's own waits
// (LdapResult's time-out) govern everything afterwards. Without a network
// time-out the layer waits without limit, as documented; it is there all
// the same to learn whether the peer spoke (see setup_peer_spoke).
struct BoundedSetup {
  bool bounded;  // false: no network time-out
  std::chrono::steady_clock::time_point deadline;
};

constexpr int kBoundedSetupLevel = LBER_SBIOD_LEVEL_PROVIDER + 5;  // above TCP, below TLS

int BoundedSetupSetUp(Sockbuf_IO_Desc* sbiod, void* arg) {
  sbiod->sbiod_pvt = arg;
  return 0;
}

int BoundedSetupRemove(Sockbuf_IO_Desc* sbiod) {
  delete static_cast<BoundedSetup*>(sbiod->sbiod_pvt);
  sbiod->sbiod_pvt = nullptr;
  return 0;
}

int BoundedSetupCtrl(Sockbuf_IO_Desc* sbiod, int opt, void* arg) {
  return LBER_SBIOD_CTRL_NEXT(sbiod, opt, arg);
}

// Waits until the socket is ready for `events` or the deadline passes:
// true when ready (or interrupted: the caller just tries again).
bool WaitReady(Sockbuf_IO_Desc* sbiod, short events) {
  const BoundedSetup* setup = static_cast<const BoundedSetup*>(sbiod->sbiod_pvt);
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      setup->deadline - std::chrono::steady_clock::now());
  ber_socket_t fd = -1;
  ber_sockbuf_ctrl(sbiod->sbiod_sb, LBER_SB_OPT_GET_FD, &fd);
  if ((setup->bounded && left.count() <= 0) || fd < 0) {
    errno = ETIMEDOUT;
    return false;
  }
  struct pollfd p = {fd, events, 0};
  int n = poll(&p, 1, setup->bounded ? static_cast<int>(left.count()) : -1);
  if (n == 0) errno = ETIMEDOUT;
  return n > 0 || (n < 0 && errno == EINTR);
}

bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

// Whether the peer sent anything while this thread's last connection was
// being set up. libldap reports a handshake it gave up on (a certificate we
// refused) and a peer that never answered alike, as "server down"; this
// tells them apart (see LdapSimpleBind).
WENDREL_INITIAL_EXEC_TLS thread_local bool setup_peer_spoke = false;

ber_slen_t BoundedSetupRead(Sockbuf_IO_Desc* sbiod, void* buf, ber_len_t len) {
  for (;;) {
    // Below may be the read-ahead buffer, so the read comes before the wait.
    ber_slen_t n = LBER_SBIOD_READ_NEXT(sbiod, buf, len);
    if (n > 0) setup_peer_spoke = true;
    if (n >= 0 || !WouldBlock()) return n;
    if (!WaitReady(sbiod, POLLIN)) return -1;
  }
}

ber_slen_t BoundedSetupWrite(Sockbuf_IO_Desc* sbiod, void* buf, ber_len_t len) {
  for (;;) {
    ber_slen_t n = LBER_SBIOD_WRITE_NEXT(sbiod, buf, len);
    if (n >= 0 || !WouldBlock()) return n;
    if (!WaitReady(sbiod, POLLOUT)) return -1;
  }
}

int BoundedSetupClose(Sockbuf_IO_Desc*) { return 0; }

Sockbuf_IO bounded_setup_io = {BoundedSetupSetUp, BoundedSetupRemove, BoundedSetupCtrl,
                               BoundedSetupRead,  BoundedSetupWrite,  BoundedSetupClose};

// Connect callback of TLS handles: pushes the layer, bounded by the
// handle's network time-out (copied from the library-wide one when it was
// opened) when it has one.
int PushBoundedSetup(LDAP* ld, Sockbuf* sb, LDAPURLDesc*, struct sockaddr*,
                     struct ldap_conncb*) {
  BoundedSetup* setup = new BoundedSetup{false, std::chrono::steady_clock::time_point()};
  struct timeval* tv = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &tv) == LDAP_OPT_SUCCESS && tv != nullptr) {
    auto timeout = std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec);
    ldap_memfree(tv);
    setup->bounded = timeout.count() >= 0;
    setup->deadline = std::chrono::steady_clock::now() +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout);
  }
  if (ber_sockbuf_add_io(sb, &bounded_setup_io, kBoundedSetupLevel, setup) != 0) {
    delete setup;
    return -1;
  }
  return 0;
}

void ForgetConnection(LDAP*, Sockbuf*, struct ldap_conncb*) {}

// One for all handles: it carries no state (libldap keeps the pointer).
struct ldap_conncb bounded_setup_callback = {PushBoundedSetup, ForgetConnection, nullptr};

// After the connection is set up, the layer's work is done.
void PopBoundedSetup(LDAP* ld) {
  Sockbuf* sb = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_SOCKBUF, &sb) == LDAP_OPT_SUCCESS && sb != nullptr) {
    ber_sockbuf_remove_io(sb, &bounded_setup_io, kBoundedSetupLevel);
  }
}

LdapHandle* Open(const char* host, int port, bool tls) {
  InitializeLibraryOnce();
  last_open_error = kLdapParamError;
  if (port <= 0 || port > 65535) return nullptr;
  std::string uri;
  const char* scheme = tls ? "ldaps" : "ldap";
  std::string hosts = (host != nullptr && *host != '\0') ? host : "localhost";
  size_t pos = 0;
  while (pos < hosts.size()) {
    size_t end = hosts.find(' ', pos);
    if (end == std::string::npos) end = hosts.size();
    if (end > pos && !AppendUri(hosts.substr(pos, end - pos), port, scheme, &uri)) {
      return nullptr;
    }
    pos = end + 1;
  }
  LDAP* ld = nullptr;
  int rc = ldap_initialize(&ld, uri.c_str());
  if (rc != LDAP_SUCCESS || ld == nullptr) {
    last_open_error = rc != LDAP_SUCCESS ? ToSdkCode(rc) : kLdapLocalError;
    return nullptr;
  }
  if (tls) {
    // Each TLS connection gets a TLS context of its own built from the
    // trusted file this thread added last, demanding a valid chain and a
    // matching host name: the library's process-wide context and the
    // system's trust store play no part once a file has been added.
    const std::string pem = ChosenTrustedFile();
    int demand = LDAP_OPT_X_TLS_DEMAND;
    int is_server = 0;
    rc = ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    // The new context reads the CA file while it is made, so the in-memory
    // file is needed only until then.
    std::unique_ptr<MemoryFile> cafile;
    if (rc == LDAP_SUCCESS && !pem.empty()) {
      cafile.reset(new MemoryFile(pem));
      rc = cafile->ok() ? ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, cafile->path().c_str())
                        : LDAP_LOCAL_ERROR;
    }
    if (rc == LDAP_SUCCESS) rc = ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &is_server);
    if (rc == LDAP_SUCCESS) rc = ldap_set_option(ld, LDAP_OPT_CONNECT_CB, &bounded_setup_callback);
    if (rc != LDAP_SUCCESS) {
      ldap_unbind_ext(ld, nullptr, nullptr);
      last_open_error = ToSdkCode(rc);
      return nullptr;
    }
  }
  last_open_error = kLdapSuccess;
  return reinterpret_cast<LdapHandle*>(ld);
}

}  // namespace

LdapHandle* LdapInit(const char* host, int port) { return Open(host, port, false); }

LdapHandle* LdapSslInit(const char* host, int port, int secure) {
  return Open(host, port, secure != 0);
}

int LdapUnbind(LdapHandle* ld) {
  if (ld == nullptr) return kLdapParamError;
  return ToSdkCode(ldap_unbind_ext(Ld(ld), nullptr, nullptr));
}

int LdapSetOption(LdapHandle* ld, int option, const void* value) {
  InitializeLibraryOnce();
  switch (option) {
    case kLdapOptDeref:
    case kLdapOptProtocolVersion:
      if (value == nullptr) return kLdapParamError;
      return ToSdkCode(ldap_set_option(Ld(ld), option, value));
    case kLdapOptReferrals:
      if (value == nullptr) return kLdapParamError;
      return ToSdkCode(ldap_set_option(
          Ld(ld), LDAP_OPT_REFERRALS,
          *static_cast<const int*>(value) != 0 ? LDAP_OPT_ON : LDAP_OPT_OFF));
    case kLdapOptNetworkTimeout: {
      // OpenLDAP refuses a null value; a negative time-out is its "none".
      // A handle's own value is what its connect and the TLS layer above
      // (PushBoundedSetup) read.
      struct timeval tv = {-1, 0};
      if (value != nullptr) tv = ToTimeval(*static_cast<const LdapTimeval*>(value));
      return ToSdkCode(ldap_set_option(Ld(ld), LDAP_OPT_NETWORK_TIMEOUT, &tv));
    }
    default:
      return kLdapParamError;
  }
}

int LdapGetOption(LdapHandle* ld, int option, void* out) {
  if (out == nullptr) return kLdapParamError;
  InitializeLibraryOnce();
  switch (option) {
    case kLdapOptDeref:
    case kLdapOptProtocolVersion:
      return ToSdkCode(ldap_get_option(Ld(ld), option, out));
    case kLdapOptReferrals: {
      int on = 0;
      int rc = ldap_get_option(Ld(ld), LDAP_OPT_REFERRALS, &on);
      if (rc == LDAP_SUCCESS) *static_cast<int*>(out) = on != 0;
      return ToSdkCode(rc);
    }
    case kLdapOptResultCode: {
      if (ld == nullptr) {
        *static_cast<int*>(out) = last_open_error;
        return kLdapSuccess;
      }
      int code = 0;
      int rc = ldap_get_option(Ld(ld), LDAP_OPT_RESULT_CODE, &code);
      if (rc == LDAP_SUCCESS) *static_cast<int*>(out) = ToSdkCode(code);
      return ToSdkCode(rc);
    }
    case kLdapOptNetworkTimeout: {
      if (ld != nullptr) return kLdapParamError;
      struct timeval* tv = nullptr;
      int rc = ldap_get_option(nullptr, LDAP_OPT_NETWORK_TIMEOUT, &tv);
      if (rc != LDAP_SUCCESS) return ToSdkCode(rc);
      LdapTimeval* copy = nullptr;
      if (tv != nullptr) {
        // Allocated by the library's allocator, so that LdapMemFree
        // (ldap_memfree) releases it like every other block.
        copy = static_cast<LdapTimeval*>(ber_memalloc(sizeof(LdapTimeval)));
        if (copy != nullptr) {
          copy->tv_sec = static_cast<int32_t>(tv->tv_sec);
          copy->tv_usec = static_cast<int32_t>(tv->tv_usec);
        }
        ldap_memfree(tv);
        if (copy == nullptr) return kLdapNoMemory;
      }
      *static_cast<LdapTimeval**>(out) = copy;
      return kLdapSuccess;
    }
    default:
      return kLdapParamError;
  }
}

int LdapSimpleBind(LdapHandle* ld, const char* dn, const char* password) {
  if (ld == nullptr) return -1;
  struct berval cred;
  cred.bv_val = const_cast<char*>(password != nullptr ? password : "");
  cred.bv_len = std::strlen(cred.bv_val);
  int msgid = -1;
  setup_peer_spoke = false;
  int rc = ldap_sasl_bind(Ld(ld), dn != nullptr ? dn : "", LDAP_SASL_SIMPLE, &cred, nullptr,
                          nullptr, &msgid);
  PopBoundedSetup(Ld(ld));
  if (rc == LDAP_SERVER_DOWN && setup_peer_spoke) {
    // The server answered the TLS handshake and the connection failed
    // anyway: its certificate was refused. Reported as a connect error
    // rather than as a server that is down, so that callers can tell a
    // server that said something from one that did not.
    rc = LDAP_CONNECT_ERROR;
    ldap_set_option(Ld(ld), LDAP_OPT_RESULT_CODE, &rc);
  }
  return rc == LDAP_SUCCESS ? msgid : -1;
}

int LdapResult(LdapHandle* ld, int msgid, int all, const LdapTimeval* timeout,
               LdapMessage** result) {
  if (ld == nullptr || result == nullptr) return -1;
  struct timeval tv;
  if (timeout != nullptr) tv = ToTimeval(*timeout);
  LDAPMessage* msg = nullptr;
  int type = ldap_result(Ld(ld), msgid, all, timeout != nullptr ? &tv : nullptr, &msg);
  *result = reinterpret_cast<LdapMessage*>(msg);
  return type;
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
  struct timeval tv;
  if (timeout != nullptr) tv = ToTimeval(*timeout);
  LDAPMessage* msg = nullptr;
  int rc = ldap_search_ext_s(Ld(ld), base, scope, filter, const_cast<char**>(attrs), attrsonly,
                             nullptr, nullptr, timeout != nullptr ? &tv : nullptr, sizelimit,
                             &msg);
  PopBoundedSetup(Ld(ld));
  *result = reinterpret_cast<LdapMessage*>(msg);
  return ToSdkCode(rc);
}

int LdapSearchExt(LdapHandle* ld, const char* base, int scope, const char* filter,
                  char* const* attrs, int attrsonly, LdapControl** server_controls,
                  LdapControl** client_controls, const LdapTimeval* timeout, int sizelimit,
                  int* msgid) {
  if (ld == nullptr || msgid == nullptr || server_controls != nullptr ||
      client_controls != nullptr) {
    return kLdapParamError;
  }
  struct timeval tv;
  if (timeout != nullptr) tv = ToTimeval(*timeout);
  int rc = ldap_search_ext(Ld(ld), base, scope, filter, const_cast<char**>(attrs), attrsonly,
                           nullptr, nullptr, timeout != nullptr ? &tv : nullptr, sizelimit, msgid);
  PopBoundedSetup(Ld(ld));
  return ToSdkCode(rc);
}

int LdapResult2Error(LdapHandle* ld, LdapMessage* result, int freeit) {
  if (ld == nullptr) return kLdapParamError;
  return ToSdkCode(ldap_result2error(Ld(ld), Msg(result), freeit));
}

LdapMessage* LdapFirstEntry(LdapHandle* ld, LdapMessage* result) {
  if (ld == nullptr || result == nullptr) return nullptr;
  return reinterpret_cast<LdapMessage*>(ldap_first_entry(Ld(ld), Msg(result)));
}

LdapMessage* LdapNextEntry(LdapHandle* ld, LdapMessage* entry) {
  if (ld == nullptr || entry == nullptr) return nullptr;
  return reinterpret_cast<LdapMessage*>(ldap_next_entry(Ld(ld), Msg(entry)));
}

char* LdapGetDn(LdapHandle* ld, LdapMessage* entry) {
  if (ld == nullptr || entry == nullptr) return nullptr;
  return ldap_get_dn(Ld(ld), Msg(entry));
}

char** LdapExplodeDn(const char* dn, int notypes) {
  // Not ldap_explode_dn: it hex-escapes every non-ASCII byte ("Zo\C3\AB").
  std::vector<std::string> rdns;
  if (dn == nullptr || !ExplodeDn(dn, notypes != 0, &rdns)) return nullptr;
  // The library's allocator, so that LdapValueFree (ldap_value_free) applies.
  char** out = static_cast<char**>(ber_memcalloc(rdns.size() + 1, sizeof(char*)));
  for (size_t i = 0; out != nullptr && i < rdns.size(); ++i) {
    out[i] = ber_strdup(rdns[i].c_str());
    if (out[i] == nullptr) {
      ber_memvfree(reinterpret_cast<void**>(out));
      out = nullptr;
    }
  }
  return out;
}

char* LdapFirstAttribute(LdapHandle* ld, LdapMessage* entry, LdapBer** ber) {
  if (ber != nullptr) *ber = nullptr;
  if (ld == nullptr || entry == nullptr || ber == nullptr) return nullptr;
  BerElement* cursor = nullptr;
  char* name = ldap_first_attribute(Ld(ld), Msg(entry), &cursor);
  *ber = reinterpret_cast<LdapBer*>(cursor);
  return name;
}

char* LdapNextAttribute(LdapHandle* ld, LdapMessage* entry, LdapBer* ber) {
  if (ld == nullptr || entry == nullptr || ber == nullptr) return nullptr;
  return ldap_next_attribute(Ld(ld), Msg(entry), reinterpret_cast<BerElement*>(ber));
}

char** LdapGetValues(LdapHandle* ld, LdapMessage* entry, const char* attr) {
  if (ld == nullptr || entry == nullptr || attr == nullptr) return nullptr;
  return ldap_get_values(Ld(ld), Msg(entry), attr);
}

void LdapValueFree(char** values) {
  if (values != nullptr) ldap_value_free(values);
}

void LdapMemFree(void* p) {
  if (p != nullptr) ldap_memfree(p);
}

int LdapMsgFree(LdapMessage* msg) {
  if (msg == nullptr) return 0;
  return ldap_msgfree(Msg(msg));
}

void LdapBerFree(LdapBer* ber, int freebuf) {
  if (ber != nullptr) ber_free(reinterpret_cast<BerElement*>(ber), freebuf);
}

namespace {
std::atomic<bool> g_fail_ssl_client_init{false};
}  // namespace

void FailSslClientInitForTesting(bool fail) { g_fail_ssl_client_init.store(fail); }

int LdapSslClientInit(const void* reserved1, const void* reserved2) {
  if (g_fail_ssl_client_init.load()) return kLdapLocalError;
  // OpenLDAP initialises its TLS library on first use and keeps it for the
  // life of the process; each TLS connection builds its own context (see
  // Open), so there is nothing to set up here.
  return 0;
}

int LdapSslClientDeinit() {
  ForgetTrustedFiles();
  return 0;
}

int LdapSslAddTrustedCert(const char* path, int cert_type) {
  if (path == nullptr || cert_type != kLdapCertFilePem) return kLdapParamError;
  // Read now, so that a file that is missing or holds no certificate is
  // reported here rather than at the first connection.
  std::string pem;
  if (!ReadCertificateFileAsPem(path, &pem)) return kLdapLocalError;
  ChooseTrustedFile(pem);
  return 0;
}

}  // namespace platform
}  // namespace wendrel
