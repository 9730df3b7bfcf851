// The extension's message catalogue: the ids of every text it shows, and the
// three ways texts become visible (prefixed search failures, LDAP error texts
// and the selection dialog's labels). Texts are loaded from the current
// resource module each time they are needed; loading never throws and never
// shows anything. Presenting a text (the message boxes) is the caller's job.
//
// It lives beside the string table it reads, below every folder that shows
// its texts: the directory connection (LDAP error texts), the user search
// (failures) and the selection dialog (labels).

#ifndef WENDREL_RESOURCES_MESSAGE_CATALOGUE_H_
#define WENDREL_RESOURCES_MESSAGE_CATALOGUE_H_

#include <cstdint>
#include <string>

namespace wendrel {

// String-table ids. Unscoped, so that an id can be thrown and caught as the
// plain integer the search expects.
enum MessageId : uint32_t {
  kMsgUserName = 1,             // dialog: first column
  kMsgUserContext = 2,          // dialog: context column
  kMsgContextSelection = 3,     // dialog caption, "%s" is the tree
  kMsgSelectUserPrompt = 4,     // dialog prompt
  kMsgFullName = 5,             // dialog column
  kMsgEmailName = 6,            // dialog column
  kMsgUniqueId = 7,             // dialog column
  kMsgLdapError = 8,            // any unmapped LDAP result, "%x" is the code
  kMsgLdapSuccessful = 9,       // LDAP 0
  kMsgNoSuchAttribute = 10,     // LDAP 16
  kMsgAliasProblem = 11,        // LDAP 33
  kMsgAliasDerefProblem = 12,   // LDAP 36
  kMsgInappropriateAuth = 13,   // LDAP 48
  kMsgInvalidCredentials = 14,  // LDAP 49
  kMsgInsufficientAccess = 15,  // LDAP 50
  kMsgLdapBusy = 16,            // LDAP 51
  kMsgUnavailable = 17,         // LDAP 52
  kMsgServerUnavailable = 18,   // LDAP 81, server down
  kMsgSearchTimeout = 19,       // LDAP 85, and the search's own time limit
  kMsgNoMemory = 20,            // LDAP 90
  kMsgPrefix = 21,              // prefix of every composed message
  kMsgBadOptions = 22,
  kMsgBadServers = 23,
  kMsgBadTrees = 24,
  kMsgCertificateLoadFailed = 25,
  kMsgNoServer = 26,
  kMsgClientInitFailed = 27,
  kMsgUserNotFound = 28,        // followed by the searched servers
  kMsgWildcardNotAllowed = 29,
  kMsgNoSearchOptions = 30,
  kMsgNoTreeName = 31,          // raised by nothing
  kMsgContinueSearching = 32,   // the continue question
  kMsgConnectionsFailed = 33,   // raised by nothing
  kMsgGivenName = 34,           // dialog column
  kMsgSurname = 35,             // dialog column
  kMsgTelephoneNumber = 36,     // dialog column
  kMsgInvalidScopeContext = 37  // LDAP 32, no such object
};

// Text `id` of the current resource module (through a 512-byte buffer, as
// every caller loads it); empty when the module lacks it.
std::string LoadMessage(uint32_t id);

// The prefix (21) followed directly by text `id`. Either part is empty when
// the module lacks it. Callers append to it (the server list of 28).
std::string ComposeMessage(uint32_t id);

// The message id of an LDAP result code; kMsgLdapError for every code without
// a text of its own, negative ones included.
MessageId LdapErrorMessageId(int code);

// The unprefixed text of an LDAP result code. For kMsgLdapError the loaded
// text is filled with the code as unsigned hexadecimal (87 gives
// "LDAP Error: 0x57"); a missing text gives an empty string.
std::string LdapErrorText(int code);

// A label of the selection dialog. The caption (kMsgContextSelection) is
// filled with `tree`; every other label is the loaded text as it stands.
std::string LoadDialogLabel(uint32_t id, const std::string& tree);

}  // namespace wendrel

#endif  // WENDREL_RESOURCES_MESSAGE_CATALOGUE_H_
