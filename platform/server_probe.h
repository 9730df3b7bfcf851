// The server probe port: what an administrator's diagnosis needs to know
// about one directory server beyond what an LDAP bind tells: whether its
// port takes a TCP connection, and what a TLS server's certificate is worth
// against a trusted certificate file. wendrel-doctor probes, with the
// server's configured time-outs; a login judges a certificate only once its
// TLS connection has refused it, for the administrator's event.
//
// Natively the certificate is judged by GnuTLS (the TLS library beneath
// libldap) from a handshake of our own, since libldap reports only that its
// handshake failed. On Windows it is judged by the same crypt32 check the
// LDAP port's server-certificate callback runs, on a wldap32 connection;
// where wldap32 refuses that callback (Wine) there is no verdict.

#ifndef WENDREL_PLATFORM_SERVER_PROBE_H_
#define WENDREL_PLATFORM_SERVER_PROBE_H_

#include <string>

namespace wendrel {
namespace platform {

// A server certificate judged against a trusted certificate file.
enum class CertificateVerdict {
  kTrusted,       // chains to a certificate of the file, in date, names the host
  kUntrusted,     // chains to nothing the file holds
  kExpired,       // chains to the file, but a certificate is outside its dates
  kNameMismatch,  // chains to the file, in date, but names another host
  kUnreadable,    // the file holds no certificate, or the server's cannot be read
  kUnavailable,   // no verdict: no handshake happened, or this system cannot check
};

// "trusted", "untrusted", "expired", "name mismatch", "unreadable",
// "unavailable": the words administrators see.
const char* CertificateVerdictName(CertificateVerdict verdict);

// How an attempt to open a TCP connection ended. Refused and no answer are
// told apart because they send an administrator to different places: a
// refusal means the host is up and nothing listens on the port (the
// directory service is down, or the port is wrong); no answer means the
// host is down or something on the way drops the packets.
enum class TcpConnectOutcome {
  kConnected,
  kRefused,      // the host answered that nothing listens on the port
  kNoAnswer,     // nothing answered within the time-out
  kUnknownName,  // the name gives no address
  kFailed,       // no route, no socket, or another failure on this side
};

// Opens a TCP connection to host:port (each address the name has, in turn),
// waiting at most timeout_ms in all, and closes it again. *elapsed_ms is how
// long the attempt took, whatever its outcome.
TcpConnectOutcome ProbeTcpConnection(const std::string& host, int port, int timeout_ms,
                                     int* elapsed_ms);

// Makes a TLS handshake with host:port (each step within timeout_ms) and
// judges the certificate the server presents, with the chain it sends,
// against the certificates of trusted_file (DER or PEM) and the name host.
CertificateVerdict ProbeServerCertificate(const std::string& host, int port,
                                          const std::string& trusted_file, int timeout_ms);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_SERVER_PROBE_H_
