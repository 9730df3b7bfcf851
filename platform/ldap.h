// The LDAP client port: the standard LDAP C API the extension uses, plus the
// two things the directory SDK adds to it, for both systems.
//
// On Windows it is wldap32; natively it is OpenLDAP's libldap. The calls keep
// the shapes and meanings of the C API (RFC 1823 and its LDAPv3 successor
// draft), so the code above reads as directory code everywhere, with these
// guarantees on both systems:
//
// - One numbering of result codes: the SDK's and wldap32's. Client-side
//   errors are 0x51 to 0x61 (server down 0x51, time-out 0x55, filter error
//   0x57, no memory 0x5A, ...); OpenLDAP's negative codes -n arrive as 0x50+n.
//   This holds for every returned code and for option kLdapOptResultCode.
// - Text is UTF-8 in both directions (DNs, filters, attribute names, values),
//   as LDAPv3 carries it.
// - Memory the port hands out is released with the release call named at
//   the function: LdapMemFree, LdapValueFree, LdapMsgFree, LdapBerFree.
// - Time-outs are LdapTimeval: two signed 32-bit integers.
//
// The extras:
// - Option kLdapOptNetworkTimeout (0x5005), set with a null handle, is the
//   library-wide network time-out: connections opened afterwards give up
//   connecting after it. Read back with a null handle it is handed out as a
//   newly allocated LdapTimeval (free with LdapMemFree), or null when none
//   is set.
// - The TLS companion: LdapSslClientInit / LdapSslClientDeinit, adding a
//   trusted certificate from a file (LdapSslAddTrustedCert), and
//   LdapSslInit(host, port, 1). A TLS connection checks the server's
//   certificate against the trusted file; a server it does not vouch for
//   cannot be bound to (see the Windows caveat at LdapSslInit).

#ifndef WENDREL_PLATFORM_LDAP_H_
#define WENDREL_PLATFORM_LDAP_H_

#include <cstdint>

namespace wendrel {
namespace platform {

// Opaque library objects: a connection, a message (a result chain or one
// entry of it) and the cursor of an attribute walk.
struct LdapHandle;
struct LdapMessage;
struct LdapBer;
// Request controls. The extension never sends any; the parameters exist so
// calls keep the standard shape, and must be null.
struct LdapControl;

struct LdapTimeval {
  int32_t tv_sec;
  int32_t tv_usec;
};

// Result codes (LDAP_*), in the SDK numbering.
enum LdapCode : int {
  kLdapSuccess = 0x00,
  kLdapOperationsError = 0x01,
  kLdapProtocolError = 0x02,
  kLdapTimelimitExceeded = 0x03,
  kLdapSizelimitExceeded = 0x04,
  kLdapNoSuchAttribute = 0x10,
  kLdapNoSuchObject = 0x20,
  kLdapAliasProblem = 0x21,
  kLdapInvalidDnSyntax = 0x22,
  kLdapAliasDerefProblem = 0x24,
  kLdapInappropriateAuth = 0x30,
  kLdapInvalidCredentials = 0x31,
  kLdapInsufficientRights = 0x32,
  kLdapBusy = 0x33,
  kLdapUnavailable = 0x34,
  kLdapUnwillingToPerform = 0x35,
  kLdapOther = 0x50,
  kLdapServerDown = 0x51,
  kLdapLocalError = 0x52,
  kLdapEncodingError = 0x53,
  kLdapDecodingError = 0x54,
  kLdapTimeout = 0x55,
  kLdapAuthUnknown = 0x56,
  kLdapFilterError = 0x57,
  kLdapUserCancelled = 0x58,
  kLdapParamError = 0x59,
  kLdapNoMemory = 0x5A,
  kLdapConnectError = 0x5B,
  kLdapNotSupported = 0x5C,
  kLdapControlNotFound = 0x5D,
  kLdapNoResultsReturned = 0x5E,
  kLdapMoreResultsToReturn = 0x5F,
  kLdapClientLoop = 0x60,
  kLdapReferralLimitExceeded = 0x61,
};

// Option numbers, as the extension passes them.
enum LdapOption : int {
  kLdapOptDeref = 2,                // int*: 0 never .. 3 always
  kLdapOptReferrals = 8,            // int*: 0 off, non-zero on (both systems read the int)
  kLdapOptProtocolVersion = 17,     // int*: 2 or 3
  kLdapOptResultCode = 0x31,        // get only, int*: the handle's last result code
  kLdapOptNetworkTimeout = 0x5005,  // set: const LdapTimeval* (null clears); get (null handle
                                    // only): LdapTimeval** (new copy, or null when unset)
};

// Message types (LDAP_RES_*), as LdapResult returns them.
enum LdapResultType : int {
  kLdapResBind = 0x61,
  kLdapResSearchEntry = 0x64,
  kLdapResSearchResult = 0x65,
  kLdapResSearchReference = 0x73,
};

// Search scopes (LDAP_SCOPE_*).
enum LdapScope : int {
  kLdapScopeBase = 0,
  kLdapScopeOneLevel = 1,
  kLdapScopeSubtree = 2,
};

// File-type code of LdapSslAddTrustedCert for a certificate file. The code
// names no encoding, and administrators export certificates in DER as often
// as in PEM: both are read, on both systems.
constexpr int kLdapCertFilePem = 2;

// --- Connections -----------------------------------------------------------

// ldap_init: a handle for host:port; no network traffic happens until the
// first operation. Null on failure; the code is then readable through
// LdapGetOption(nullptr, kLdapOptResultCode, ...).
LdapHandle* LdapInit(const char* host, int port);

// ldapssl_init: a handle for a TLS connection to host:port (secure must be
// 1; 0 gives a plain connection like LdapInit). The server's certificate is
// checked, when the connection is made, against the certificates this
// thread added last with LdapSslAddTrustedCert: natively by OpenLDAP with a
// fresh TLS context that demands a valid certificate chain and a matching
// host name; on Windows by a server-certificate callback that builds the
// chain against the trusted file.
// A connection whose certificate was refused, or could not be checked,
// fails its first operation (-1 from LdapSimpleBind) with result code
// kLdapConnectError (0x5B) on both systems, never with kLdapServerDown: the
// server is not to be taken for one that did not answer. On Windows a
// handle is used only when the callback judged the certificate for that
// handle; Wine's wldap32 refuses the callback (0x5C), so there a handle
// opened while a trusted file is set fails that way before it connects
// (see ldap_win32.cc).
// The TLS handshake happens inside the first operation (LdapSimpleBind)
// and is bounded by the network time-out in force when the handle was
// opened: against a peer that accepts TCP and never answers (a frozen
// server), LdapSimpleBind on a TLS handle returns -1 (server down) after
// about that time. Natively libldap does not bound it by itself; the posix
// backend adds the bound (see ldap_posix.cc); Windows bounds ldap_connect,
// which the Windows backend calls first, by it. Under Wine it is not
// bounded: Wine's wldap32 ignores ldap_connect's time-out and runs the
// handshake in libldap, where it does not return. Without a network
// time-out the handshake waits as long as the peer keeps the connection
// open.
LdapHandle* LdapSslInit(const char* host, int port, int secure);

// unbind: ends the connection and releases the handle.
int LdapUnbind(LdapHandle* ld);

// --- Options ---------------------------------------------------------------

// ldap_set_option / ldap_get_option with the option numbers above. ld may
// be null: the library-wide default, which applies to handles created
// afterwards. kLdapOptNetworkTimeout set on a handle that has not made its
// connection yet bounds that handle's connection (and TLS handshake) alone,
// whatever the library-wide default says: threads that connect to several
// servers at once each keep their own time-out. Returns kLdapSuccess, or
// kLdapParamError for an option the port does not carry (or a get of
// kLdapOptNetworkTimeout with a handle).
int LdapSetOption(LdapHandle* ld, int option, const void* value);
int LdapGetOption(LdapHandle* ld, int option, void* out);

// --- Operations ------------------------------------------------------------

// ldap_simple_bind: starts a simple bind (dn and password may be null or
// empty: anonymous). Returns the message id, or -1 on failure (the code is
// then the handle's kLdapOptResultCode).
int LdapSimpleBind(LdapHandle* ld, const char* dn, const char* password);

// ldap_result: waits for the result of msgid. all: 0 one message, 1 the
// whole search result. timeout null: no limit. Returns the message type
// (*result then holds the message; free with LdapMsgFree), 0 on time-out,
// -1 on error (the code is the handle's kLdapOptResultCode).
int LdapResult(LdapHandle* ld, int msgid, int all, const LdapTimeval* timeout,
               LdapMessage** result);

// ldap_search_ext_s: synchronous search. attrs is a null-terminated list (or
// null for all attributes); timeout null: no limit; sizelimit 0: no limit.
// Returns the result code; *result may hold a (partial) result even on
// failure and is then released with LdapMsgFree.
int LdapSearchExtS(LdapHandle* ld, const char* base, int scope, const char* filter,
                   char* const* attrs, int attrsonly, LdapControl** server_controls,
                   LdapControl** client_controls, const LdapTimeval* timeout, int sizelimit,
                   LdapMessage** result);

// ldap_search_ext: starts the same search; *msgid receives its message id.
// The time-out becomes the server-side time limit (whole seconds, rounded
// up; null: none). Returns the result code of starting it.
int LdapSearchExt(LdapHandle* ld, const char* base, int scope, const char* filter,
                  char* const* attrs, int attrsonly, LdapControl** server_controls,
                  LdapControl** client_controls, const LdapTimeval* timeout, int sizelimit,
                  int* msgid);

// ldap_result2error: the result code carried by a result message; freeit
// non-zero also releases the message.
int LdapResult2Error(LdapHandle* ld, LdapMessage* result, int freeit);

// --- Walking a result ------------------------------------------------------

LdapMessage* LdapFirstEntry(LdapHandle* ld, LdapMessage* result);
LdapMessage* LdapNextEntry(LdapHandle* ld, LdapMessage* entry);

// ldap_get_dn: the entry's DN; free with LdapMemFree.
char* LdapGetDn(LdapHandle* ld, LdapMessage* entry);

// ldap_explode_dn: the RDNs of dn, as values only (notypes 1) or with their
// types (0); a null-terminated list, free with LdapValueFree. Null when dn
// is not a DN.
char** LdapExplodeDn(const char* dn, int notypes);

// ldap_first_attribute / ldap_next_attribute: attribute names in the
// server's order, null at the end. Each name is freed with LdapMemFree; the
// cursor *ber with LdapBerFree(ber, 0) after the walk.
char* LdapFirstAttribute(LdapHandle* ld, LdapMessage* entry, LdapBer** ber);
char* LdapNextAttribute(LdapHandle* ld, LdapMessage* entry, LdapBer* ber);

// ldap_get_values: the values of one attribute of the entry, a
// null-terminated list (free with LdapValueFree), or null when it has none.
char** LdapGetValues(LdapHandle* ld, LdapMessage* entry, const char* attr);

// --- Release ---------------------------------------------------------------

void LdapValueFree(char** values);
void LdapMemFree(void* p);
int LdapMsgFree(LdapMessage* msg);
void LdapBerFree(LdapBer* ber, int freebuf);

// --- TLS companion ---------------------------------------------------------

// TLS client initialisation (the extension passes two null pointers) and
// shutdown. Process-wide; 0 on success.
int LdapSslClientInit(const void* reserved1, const void* reserved2);
int LdapSslClientDeinit();

// Tests only: while set, LdapSslClientInit fails (kLdapLocalError). Neither
// backend's start-up can fail on its own, yet callers must cope when a
// platform's does.
void FailSslClientInitForTesting(bool fail);

// Adds the certificates in path (one DER certificate, or one or more in
// PEM) as the ones trusted for the TLS connections this thread opens
// afterwards; cert_type must be kLdapCertFilePem. Other threads keep their
// own: threads that connect to servers of different files at once each
// check against their own. 0 on success; a file that is missing or is
// neither is an error (non-zero) and changes nothing.
int LdapSslAddTrustedCert(const char* path, int cert_type);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_LDAP_H_
