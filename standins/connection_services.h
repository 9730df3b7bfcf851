// Stand-in for the client's connection services: open a connection to a
// server by name, ask it for information, close it. It answers the one
// question the extension asks, a server address's tree name, over LDAP: the
// tree name is the directoryTreeName of the root DSE of the LDAP server at
// that address, reached with the port and TLS setting of the configured
// server of that address (plain LDAP on 389 when none is configured).
//
// Only IPv4 addresses in inet_addr's forms are accepted as names. Statuses
// are 32-bit: 0 for success, else one of kConn* below.

#ifndef WENDREL_STANDINS_CONNECTION_SERVICES_H_
#define WENDREL_STANDINS_CONNECTION_SERVICES_H_

#include <cstdint>

namespace wendrel {

// A parameter the service does not take: a null pointer, a name format
// other than 0x8002, an open state other than 2, a transport other than 0
// (any), an information type other than 4, a buffer shorter than 33 bytes.
constexpr uint32_t kConnBadParameter = 0x88A1;
// The name is not an IPv4 address.
constexpr uint32_t kConnUnknownName = 0x88A2;
// No LDAP server could be reached or bound to at the address in time.
constexpr uint32_t kConnServerUnreachable = 0x88A3;
// The server answered but publishes no tree name.
constexpr uint32_t kConnNoTreeName = 0x88A4;
// The handle does not name an open connection.
constexpr uint32_t kConnBadHandle = 0x88A5;

// How long each LDAP step (connect, bind, root DSE read) may take.
constexpr int32_t kConnWaitSeconds = 5;

}  // namespace wendrel

extern "C" {

// Opens a connection to the server `name` (an IPv4 address) and learns its
// tree name. start_conn must be 0; *conn_handle receives a non-zero handle
// on success.
uint32_t QZCCOpenConnByName(uint32_t start_conn, const char* name, uint32_t name_format,
                            uint32_t open_state, uint32_t transport_type,
                            uint32_t* conn_handle);

// Information type 4: the tree name in the ANSI code page, cut to 32
// characters and padded with underscores to 32, with a terminator; the
// buffer must hold 33 bytes.
uint32_t QZCCGetConnInfo(uint32_t conn_handle, uint32_t info_type, uint32_t buffer_length,
                         void* buffer);

// Closes the connection; the handle is invalid afterwards.
uint32_t QZCCCloseConn(uint32_t conn_handle);

}  // extern "C"

#endif  // WENDREL_STANDINS_CONNECTION_SERVICES_H_
