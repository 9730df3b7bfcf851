// LDAPConn: the extension's one wrapper around an LDAP connection handle.
//
// It starts the TLS client once per process, opens a connection to one server
// (plain or TLS), binds with the server's proxy credentials under a time-out,
// reads the server's tree name ("directoryTreeName" of the root entry), runs
// time-limited searches, turns results into found-user records, and turns the
// connection's last result code into a message text.
//
// Thrown values: an int holding a message id (27 TLS client start-up failed,
// 25 certificate file not loadable, 19 search time-out) and a std::string
// holding the text of GetErrorText.

#ifndef WENDREL_DIRECTORY_LDAP_CONN_H_
#define WENDREL_DIRECTORY_LDAP_CONN_H_

#include <string>

#include "platform/ldap.h"

namespace wendrel {

class UserData;

class LDAPConn {
 public:
  // With start_tls, the first connection in the process that asks initialises
  // the TLS client (throws 27 when that fails).
  explicit LDAPConn(bool start_tls);
  virtual ~LDAPConn();

  LDAPConn(const LDAPConn&) = delete;
  LDAPConn& operator=(const LDAPConn&) = delete;

  // Library-wide defaults (null handle): option 17 with an int value, option
  // 0x5005 with a pointer to an LdapTimeval.
  void SetOption(int option, int value);
  void SetOption(int option, const void* value);

  std::string GetTreeName() const { return tree_name_; }
  std::string GetSavedTreeName() const { return saved_tree_name_; }
  void SetSavedTreeName(const std::string& name) { saved_tree_name_ = name; }

  // Connectivity probe: connect and bind, waiting at most one second.
  bool QuickBind(const std::string& host, int port, bool use_ssl, const std::string& certificate,
                 const std::string& bind_dn, const std::string& password);

  // Connect, bind (waiting up to the library-wide network time-out) and read
  // the server's tree name.
  bool BindToServer(const std::string& host, int port, bool use_ssl,
                    const std::string& certificate, const std::string& bind_dn,
                    const std::string& password);

  // How the last BindToServer went, for the retry memory: the server sent
  // a bind response (whatever its verdict), or it was not reached at all
  // (refused, cut off, or silent until the time-out). A bind that could
  // not even be sent for another reason is neither.
  bool LastBindAnswered() const { return bind_answered_; }
  bool LastBindUnreachable() const { return bind_unreachable_; }
  // The last BindToServer's TLS connection was not used: the server's
  // certificate was refused (or could not be checked). Never unreachable.
  bool LastBindCertificateRefused() const { return bind_certificate_refused_; }
  // The last BindToServer's LDAP result code, for the administrator's
  // events: the code inside the bind response when one came (0 when the
  // server accepted the credentials), else the connection's code for the
  // failure (kLdapTimeout when no response came within the wait).
  int LastBindCode() const { return bind_code_; }

  // attributes: null-terminated list. Throws 19 or a text; a base that does
  // not exist shows message 37 and returns normally.
  void Search(const std::string& base, const std::string& filter, int scope,
              const char* const* attributes, const platform::LdapTimeval* timeout);

  // Appends one record per entry of the current result to `request`.
  void GetResults(UserData& request);

  // The message for the connection's last result code.
  std::string GetErrorText();

 private:
  // The first steps of both bind operations: empties the tree name, adds
  // the certificate (throws 25), opens the handle and makes it the current
  // one (throws GetErrorText's text when that fails).
  void OpenConnection(const std::string& host, int port, bool use_ssl,
                      const std::string& certificate);
  void FreeResult();
  // Why a bind that got no bind response failed, for the retry memory:
  // unreachable, or a certificate failure (traced).
  void NoteFailedBind(const std::string& host, int port, bool use_ssl, bool timed_out);
  // The handle's last result code (kNoCodeReported when it gives none).
  int LastResultCode();
  // Ends `old` unless it is still the current or the bound handle.
  void ReleaseIfUnused(platform::LdapHandle* old);

  // The object owns both handles (they may be the same one).
  platform::LdapHandle* handle_ = nullptr;
  platform::LdapHandle* bound_handle_ = nullptr;
  platform::LdapMessage* result_ = nullptr;
  std::string tree_name_;
  std::string saved_tree_name_;
  bool bind_answered_ = false;
  bool bind_unreachable_ = false;
  bool bind_certificate_refused_ = false;
  int bind_code_ = platform::kLdapSuccess;
};

}  // namespace wendrel

#endif  // WENDREL_DIRECTORY_LDAP_CONN_H_
