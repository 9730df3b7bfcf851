// Stand-in for the client's directory services: contexts that name a tree
// and a name context, and the look-up of an object name in them. It answers
// the one question the results cache asks, whether the directory still knows
// a cached user, over LDAP: the name exists when a base-object read of the
// entry formed from the object name and the name context succeeds on a
// configured server (HKLM\Software\Tarvos\LDAP\Servers) whose root DSE
// names the context's tree in directoryTreeName, compared ignoring the case of
// a-z. Servers are asked in list order with the port, TLS setting, trusted
// certificate and proxy credentials configured for each; every step waits at
// most kDsWaitSeconds.
//
// Texts are in the ANSI code page, as the extension keeps them. The name
// context is written as the extension caches it: the typed RDNs joined with
// "." ("ou=sales.o=acme"); see ContextToDn for how it is turned back into a
// DN and where that is ambiguous.
//
// Statuses are 32-bit: 0 for success, else one of kDs* below. Handles are
// 32-bit and never 0. The functions may be called from any thread.

#ifndef WENDREL_STANDINS_DIRECTORY_SERVICES_H_
#define WENDREL_STANDINS_DIRECTORY_SERVICES_H_

#include <cstdint>
#include <string>

namespace wendrel {

// Settings of a context (QZDSSetContext).
constexpr uint32_t kDsSettingNameContext = 3;  // typed RDNs joined with "."
constexpr uint32_t kDsSettingTreeName = 11;

// A null pointer where one is needed, a setting other than the two above, or
// non-null reserved arguments of the look-up.
constexpr uint32_t kDsBadParameter = 0x89A1;
// The handle does not name a context.
constexpr uint32_t kDsBadContext = 0x89A2;
// The context names no tree, or the name and context form no DN.
constexpr uint32_t kDsBadName = 0x89A3;
// A server of the tree answered, and none knows the object.
constexpr uint32_t kDsNoSuchObject = 0x89A4;
// No configured server of the tree could be reached in time (every server
// down, none configured, or none of them of this tree): the directory cannot
// confirm the object, and the caller treats that as not known.
constexpr uint32_t kDsTreeUnreachable = 0x89A5;

// How long each LDAP step (connect, bind, read) may take per server.
constexpr int32_t kDsWaitSeconds = 5;

// The DN of `name` (a typed RDN, "cn=jsmith") in `context` ("ou=sales.o=acme"):
// "cn=jsmith,ou=sales,o=acme"; just `name` for an empty context. The cached
// context lost the difference between the RDN separator and a "." inside a
// value, so a "." counts as a separator only when the text after it, up to
// the next "=", is an attribute descriptor (a letter followed by letters,
// digits and "-"): "ou=example.com.o=x" gives "ou=example.com,o=x". Known
// limits, where a look-up answers kDsNoSuchObject for an entry that exists:
// a value holding "." followed by such a descriptor and "=" ("ou=a.b=c") is
// split in two RDNs, and an RDN typed by a numeric OID ("2.5.4.10=x") is not
// recognised as one. False when `name` is empty.
bool ContextToDn(const std::string& name, const std::string& context, std::string* dn);

}  // namespace wendrel

extern "C" {

// Creates an empty context; *context receives its handle.
uint32_t QZDSCreateContext(uint32_t* context);

// Sets one setting (kDsSetting*) of the context to a copy of `value`.
uint32_t QZDSSetContext(uint32_t context, uint32_t setting, const void* value);

// Looks up `object_name` (the leaf RDN, "cn=jsmith") in the context's name
// context of its tree: 0 when the object exists. Both reserved arguments must
// be null.
uint32_t QZDSLookupName(uint32_t context, const char* object_name, void* reserved1,
                        void* reserved2);

// Frees the context; the handle is invalid afterwards.
uint32_t QZDSFreeContext(uint32_t context);

}  // extern "C"

#endif  // WENDREL_STANDINS_DIRECTORY_SERVICES_H_
