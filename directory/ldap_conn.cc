#include "directory/ldap_conn.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "directory/entry_dn.h"
#include "directory/unreachable_servers.h"
#include "directory/worker_state.h"
#include "platform/trace.h"
#include "platform/ui.h"
#include "resources/message_catalogue.h"
#include "results/user_data.h"
#include "results/user_entry.h"

namespace wendrel {
namespace {

using platform::LdapHandle;
using platform::LdapMessage;
using platform::LdapTimeval;

// The root entry's attribute that names a server's directory tree.
constexpr char kTreeNameAttribute[] = "directoryTreeName";

// The code GetErrorText reports when the library gives none: a failed
// opening that left nothing behind, or a handle that cannot be asked. The
// connection was not made, so "connect error" (0x5B, shown as
// "LDAP Error: 0x5b") says what happened without claiming a server reply.
constexpr int kNoCodeReported = platform::kLdapConnectError;

// Owners of what the port hands out, released with the call it names.
struct MemFreer {
  void operator()(char* p) const { platform::LdapMemFree(p); }
};
struct ValueFreer {
  void operator()(char** p) const { platform::LdapValueFree(p); }
};
struct BerFreer {
  // 0: the cursor's buffer belongs to the entry.
  void operator()(platform::LdapBer* p) const { platform::LdapBerFree(p, 0); }
};
using PortString = std::unique_ptr<char, MemFreer>;
using ValueList = std::unique_ptr<char*, ValueFreer>;
using BerCursor = std::unique_ptr<platform::LdapBer, BerFreer>;

}  // namespace

LDAPConn::LDAPConn(bool start_tls) {
  if (!start_tls) return;
  // The worker and the login thread may both get here first: the flag is
  // claimed in one atomic step, so exactly one of them starts the client.
  std::atomic<int>& flag = GetWorkerState().tls_initialized;
  int expected = 0;
  if (!flag.compare_exchange_strong(expected, 1)) return;
  if (platform::LdapSslClientInit(nullptr, nullptr) != 0) {
    // Released again, so that the next connection asking for TLS retries.
    flag.store(0);
    throw static_cast<int>(kMsgClientInitFailed);
  }
}

LDAPConn::~LDAPConn() {
  FreeResult();
  // A bound handle that a later bind operation replaced as the current one
  // is still the object's: ended here too, so that no handle outlives it.
  if (bound_handle_ != nullptr && bound_handle_ != handle_) platform::LdapUnbind(bound_handle_);
  if (handle_ != nullptr) platform::LdapUnbind(handle_);
}

void LDAPConn::SetOption(int option, int value) {
  platform::LdapSetOption(nullptr, option, &value);
}

void LDAPConn::SetOption(int option, const void* value) {
  platform::LdapSetOption(nullptr, option, value);
}

void LDAPConn::FreeResult() {
  platform::LdapMsgFree(result_);
  result_ = nullptr;
}

void LDAPConn::ReleaseIfUnused(LdapHandle* old) {
  if (old != nullptr && old != handle_ && old != bound_handle_) platform::LdapUnbind(old);
}

void LDAPConn::OpenConnection(const std::string& host, int port, bool use_ssl,
                              const std::string& certificate) {
  tree_name_.clear();
  LdapHandle* opened = nullptr;
  if (use_ssl) {
    if (platform::LdapSslAddTrustedCert(certificate.c_str(), platform::kLdapCertFilePem) != 0) {
      throw static_cast<int>(kMsgCertificateLoadFailed);
    }
    opened = platform::LdapSslInit(host.c_str(), port, 1);
  } else {
    opened = platform::LdapInit(host.c_str(), port);
  }
  // The result of the previous bind wait or search belongs to the
  // connection being replaced; the next wait writes over the field.
  FreeResult();
  // The new handle replaces the current one without unbinding a handle the
  // object still needs: the bound handle stays usable. Any other handle
  // would be reachable by nobody: the user search keeps one object for its
  // whole walk over the servers and the connectivity wait one for up to 35
  // passes over them, so it is ended here rather than leaked per server.
  LdapHandle* previous = handle_;
  handle_ = opened;
  ReleaseIfUnused(previous);
  if (handle_ == nullptr) throw GetErrorText();
}

bool LDAPConn::QuickBind(const std::string& host, int port, bool use_ssl,
                         const std::string& certificate, const std::string& bind_dn,
                         const std::string& password) {
  OpenConnection(host, port, use_ssl, certificate);
  int msgid = platform::LdapSimpleBind(handle_, bind_dn.c_str(), password.c_str());
  if (msgid == -1) return false;
  const LdapTimeval one_second = {1, 0};
  int type = platform::LdapResult(handle_, msgid, 0, &one_second, &result_);
  if (type != platform::kLdapResBind) return false;
  FreeResult();
  return true;
}

void LDAPConn::NoteFailedBind(const std::string& host, int port, bool use_ssl, bool timed_out) {
  const int code = timed_out ? platform::kLdapTimeout : LastResultCode();
  bind_code_ = code;
  bind_unreachable_ = IsUnansweredCode(code);
  bind_certificate_refused_ = IsCertificateFailureCode(code, use_ssl);
  if (bind_certificate_refused_) {
    platform::Trace("LDAP: %s:%d skipped: its TLS certificate was refused\n", host.c_str(), port);
  }
}

bool LDAPConn::BindToServer(const std::string& host, int port, bool use_ssl,
                            const std::string& certificate, const std::string& bind_dn,
                            const std::string& password) {
  bind_answered_ = false;
  bind_unreachable_ = false;
  bind_certificate_refused_ = false;
  bind_code_ = platform::kLdapSuccess;
  OpenConnection(host, port, use_ssl, certificate);
  int never = 0;
  platform::LdapSetOption(handle_, platform::kLdapOptDeref, &never);
  int off = 0;
  platform::LdapSetOption(handle_, platform::kLdapOptReferrals, &off);

  int msgid = platform::LdapSimpleBind(handle_, bind_dn.c_str(), password.c_str());
  if (msgid == -1) {
    NoteFailedBind(host, port, use_ssl, false);
    return false;
  }
  // The library-wide network time-out the caller set for this server; none
  // set means the wait has no limit.
  LdapTimeval* wait = nullptr;
  platform::LdapGetOption(nullptr, platform::kLdapOptNetworkTimeout, &wait);
  int type = platform::LdapResult(handle_, msgid, 0, wait, &result_);
  platform::LdapMemFree(wait);
  if (type == 0 || type == -1) NoteFailedBind(host, port, use_ssl, type == 0);
  if (type != platform::kLdapResBind) return false;
  bind_answered_ = true;
  // Read from the response already in hand (no request goes out): a refused
  // proxy bind is told apart from a server that could not be reached. It
  // changes nothing here; the walk goes on as the server answered.
  bind_code_ = platform::LdapResult2Error(handle_, result_, 0);

  // The bind completed, whatever the server's verdict on the credentials:
  // the tree name decides whether this server is usable.
  LdapHandle* previous_bound = bound_handle_;
  bound_handle_ = handle_;
  ReleaseIfUnused(previous_bound);
  FreeResult();

  char attribute[sizeof(kTreeNameAttribute)];
  std::memcpy(attribute, kTreeNameAttribute, sizeof(kTreeNameAttribute));
  char* attributes[] = {attribute, nullptr};
  int rc = platform::LdapSearchExtS(handle_, "", platform::kLdapScopeBase, "(objectClass=*)",
                                    attributes, 0, nullptr, nullptr, nullptr, 0, &result_);
  if (rc != platform::kLdapSuccess) return false;
  LdapMessage* entry = platform::LdapFirstEntry(handle_, result_);
  if (entry == nullptr) return false;
  ValueList values(platform::LdapGetValues(handle_, entry, kTreeNameAttribute));
  if (values == nullptr || values.get()[0] == nullptr) return false;
  // Kept byte for byte as the server sent it: it is compared with
  // configured tree names, never shown converted.
  tree_name_ = values.get()[0];
  return true;
}

void LDAPConn::Search(const std::string& base, const std::string& filter, int scope,
                      const char* const* attributes, const LdapTimeval* timeout) {
  FreeResult();
  char* const* attrs = const_cast<char* const*>(attributes);
  int rc = platform::LdapSearchExtS(handle_, base.c_str(), scope, filter.c_str(), attrs, 0,
                                    nullptr, nullptr, timeout, 0, &result_);
  if (rc == platform::kLdapOther) {
    // Some servers answer a synchronous search this way when they are
    // busy; asked again asynchronously, they often answer in time.
    FreeResult();
    int msgid = -1;
    rc = platform::LdapSearchExt(handle_, base.c_str(), scope, filter.c_str(), attrs, 0,
                                 nullptr, nullptr, timeout, 0, &msgid);
    if (rc == platform::kLdapSuccess) {
      int type = platform::LdapResult(handle_, msgid, 1, timeout, &result_);
      if (type == -1) throw GetErrorText();
      if (type == 0) throw static_cast<int>(kMsgSearchTimeout);
      if (type == platform::kLdapResSearchEntry || type == platform::kLdapResSearchResult) {
        return;
      }
      rc = platform::LdapResult2Error(handle_, result_, 0);
    }
  }
  if (rc == platform::kLdapTimeout) throw static_cast<int>(kMsgSearchTimeout);
  if (rc == platform::kLdapNoSuchObject) {
    // A configured context that does not exist: the user is told, and the
    // caller goes on with its next context.
    platform::ShowMessageBox(GetErrorText(), platform::kMbIconHand);
    return;
  }
  if (rc == platform::kLdapSuccess) return;
  throw GetErrorText();
}

void LDAPConn::GetResults(UserData& request) {
  // Kept across entries, so that their storage is reused rather than
  // allocated again for each of a large result's entries.
  std::vector<std::string> value_rdns;
  std::vector<std::string> typed_rdns;
  for (LdapMessage* entry = platform::LdapFirstEntry(handle_, result_); entry != nullptr;
       entry = platform::LdapNextEntry(handle_, entry)) {
    {
      PortString dn(platform::LdapGetDn(handle_, entry));
      ExplodeEntryDn(dn.get(), &typed_rdns, &value_rdns);
    }
    UserObj& user = AddEntryUser(&request, typed_rdns, value_rdns);

    // Each first value goes straight from the library's list into the
    // record; further values are ignored, an attribute without values is
    // skipped.
    platform::LdapBer* raw_ber = nullptr;
    PortString name(platform::LdapFirstAttribute(handle_, entry, &raw_ber));
    BerCursor ber(raw_ber);
    for (; name != nullptr; name.reset(platform::LdapNextAttribute(handle_, entry, ber.get()))) {
      ValueList values(platform::LdapGetValues(handle_, entry, name.get()));
      if (values != nullptr && values.get()[0] != nullptr) {
        SetEntryAttribute(&user, name.get(), values.get()[0]);
      }
    }
  }
}

int LDAPConn::LastResultCode() {
  int code = kNoCodeReported;
  if (platform::LdapGetOption(handle_, platform::kLdapOptResultCode, &code) !=
      platform::kLdapSuccess) {
    code = kNoCodeReported;
  }
  return code;
}

std::string LDAPConn::GetErrorText() {
  int code = LastResultCode();
  // Without a handle the library reports the last failed opening of this
  // thread; "success" there means it has nothing to say about this one.
  if (handle_ == nullptr && code == platform::kLdapSuccess) code = kNoCodeReported;
  return LdapErrorText(code);
}

}  // namespace wendrel
