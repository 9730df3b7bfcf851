// The server probe port natively: a non-blocking connect bounded by poll(),
// and a TLS handshake of our own through GnuTLS, whose verification flags
// tell an untrusted chain from an expired certificate and a wrong name.

#include "platform/server_probe.h"

#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <type_traits>
#include <vector>

#include "platform/posix/certificate_file.h"

namespace wendrel {
namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

class Socket {
 public:
  Socket() = default;
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

int MillisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

// One non-blocking connect to one address, finished by the deadline.
TcpConnectOutcome ConnectOne(const addrinfo& address, Clock::time_point deadline, Socket* out) {
  Socket s;
  s.Reset(socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                 address.ai_protocol));
  if (s.fd() < 0) return TcpConnectOutcome::kFailed;
  int error = 0;
  if (connect(s.fd(), address.ai_addr, address.ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      error = errno;
    } else {
      for (;;) {
        pollfd p = {s.fd(), POLLOUT, 0};
        int n = poll(&p, 1, MillisecondsLeft(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) return TcpConnectOutcome::kNoAnswer;
        if (n < 0) return TcpConnectOutcome::kFailed;
        break;
      }
      socklen_t size = sizeof(error);
      if (getsockopt(s.fd(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return TcpConnectOutcome::kFailed;
      }
    }
  }
  if (error == ECONNREFUSED) return TcpConnectOutcome::kRefused;
  if (error == ETIMEDOUT) return TcpConnectOutcome::kNoAnswer;
  if (error != 0) return TcpConnectOutcome::kFailed;
  const int flags = fcntl(s.fd(), F_GETFL);
  if (flags < 0 || fcntl(s.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return TcpConnectOutcome::kFailed;
  }
  out->Reset(s.Release());
  return TcpConnectOutcome::kConnected;
}

// A connected socket to host:port (each address the name has, in turn, all
// within timeout_ms), blocking again once connected. The outcome is that of
// the last address tried.
TcpConnectOutcome Connect(const std::string& host, int port, int timeout_ms, Socket* out) {
  if (port <= 0 || port > 65535 || timeout_ms < 0) return TcpConnectOutcome::kFailed;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  addrinfo hints = {};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (lookup == EAI_NONAME || lookup == EAI_NODATA) return TcpConnectOutcome::kUnknownName;
  if (lookup != 0) return TcpConnectOutcome::kFailed;
  TcpConnectOutcome outcome = TcpConnectOutcome::kNoAnswer;
  for (addrinfo* a = found; a != nullptr && Clock::now() < deadline; a = a->ai_next) {
    outcome = ConnectOne(*a, deadline, out);
    if (outcome == TcpConnectOutcome::kConnected) break;
  }
  freeaddrinfo(found);
  return outcome;
}

struct SessionFreer {
  void operator()(gnutls_session_t s) const { gnutls_deinit(s); }
};
struct CredentialsFreer {
  void operator()(gnutls_certificate_credentials_t c) const {
    gnutls_certificate_free_credentials(c);
  }
};
struct TrustListFreer {
  void operator()(gnutls_x509_trust_list_t t) const { gnutls_x509_trust_list_deinit(t, 1); }
};
using Session = std::unique_ptr<std::remove_pointer<gnutls_session_t>::type, SessionFreer>;
using Credentials =
    std::unique_ptr<std::remove_pointer<gnutls_certificate_credentials_t>::type, CredentialsFreer>;
using TrustList =
    std::unique_ptr<std::remove_pointer<gnutls_x509_trust_list_t>::type, TrustListFreer>;

// The certificates of one chain, owned.
class Chain {
 public:
  ~Chain() {
    for (gnutls_x509_crt_t c : certs_) gnutls_x509_crt_deinit(c);
  }
  bool Add(const gnutls_datum_t& der) {
    gnutls_x509_crt_t cert = nullptr;
    if (gnutls_x509_crt_init(&cert) < 0) return false;
    if (gnutls_x509_crt_import(cert, &der, GNUTLS_X509_FMT_DER) < 0) {
      gnutls_x509_crt_deinit(cert);
      return false;
    }
    certs_.push_back(cert);
    return true;
  }
  std::vector<gnutls_x509_crt_t>& certs() { return certs_; }

 private:
  std::vector<gnutls_x509_crt_t> certs_;
};

bool IsAddress(const std::string& host) {
  addrinfo hints = {};
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
  freeaddrinfo(found);
  return true;
}

// The verdict on a chain the server sent, against the trusted PEM.
CertificateVerdict Judge(Chain& chain, const std::string& pem, const std::string& host) {
  gnutls_x509_trust_list_t raw = nullptr;
  if (gnutls_x509_trust_list_init(&raw, 0) < 0) return CertificateVerdict::kUnavailable;
  TrustList trust(raw);
  gnutls_datum_t cas = {reinterpret_cast<unsigned char*>(const_cast<char*>(pem.data())),
                        static_cast<unsigned int>(pem.size())};
  if (gnutls_x509_trust_list_add_trust_mem(trust.get(), &cas, nullptr, GNUTLS_X509_FMT_PEM, 0,
                                           0) <= 0) {
    return CertificateVerdict::kUnreadable;
  }
  unsigned int status = 0;
  if (gnutls_x509_trust_list_verify_crt(trust.get(), chain.certs().data(),
                                        static_cast<unsigned int>(chain.certs().size()), 0,
                                        &status, nullptr) < 0) {
    return CertificateVerdict::kUntrusted;
  }
  const unsigned int dates = GNUTLS_CERT_EXPIRED | GNUTLS_CERT_NOT_ACTIVATED;
  if ((status & ~(dates | GNUTLS_CERT_INVALID)) != 0) return CertificateVerdict::kUntrusted;
  if ((status & dates) != 0) return CertificateVerdict::kExpired;
  if (status != 0) return CertificateVerdict::kUntrusted;
  if (gnutls_x509_crt_check_hostname2(chain.certs()[0], host.c_str(), 0) == 0) {
    return CertificateVerdict::kNameMismatch;
  }
  return CertificateVerdict::kTrusted;
}

}  // namespace

TcpConnectOutcome ProbeTcpConnection(const std::string& host, int port, int timeout_ms,
                                     int* elapsed_ms) {
  const Clock::time_point start = Clock::now();
  Socket s;
  const TcpConnectOutcome outcome = Connect(host, port, timeout_ms, &s);
  *elapsed_ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  return outcome;
}

CertificateVerdict ProbeServerCertificate(const std::string& host, int port,
                                          const std::string& trusted_file, int timeout_ms) {
  std::string pem;
  if (!ReadCertificateFileAsPem(trusted_file, &pem)) return CertificateVerdict::kUnreadable;
  Socket s;
  if (Connect(host, port, timeout_ms, &s) != TcpConnectOutcome::kConnected) {
    return CertificateVerdict::kUnavailable;
  }

  gnutls_certificate_credentials_t raw_credentials = nullptr;
  if (gnutls_certificate_allocate_credentials(&raw_credentials) < 0) {
    return CertificateVerdict::kUnavailable;
  }
  Credentials credentials(raw_credentials);
  gnutls_session_t raw_session = nullptr;
  if (gnutls_init(&raw_session, GNUTLS_CLIENT) < 0) return CertificateVerdict::kUnavailable;
  Session session(raw_session);
  if (gnutls_set_default_priority(session.get()) < 0 ||
      gnutls_credentials_set(session.get(), GNUTLS_CRD_CERTIFICATE, credentials.get()) < 0) {
    return CertificateVerdict::kUnavailable;
  }
  // Name indication only for names: an address is not sent as one.
  if (!IsAddress(host)) {
    gnutls_server_name_set(session.get(), GNUTLS_NAME_DNS, host.data(), host.size());
  }
  gnutls_transport_set_int(session.get(), s.fd());
  // The handshake as a whole within the time-out: GnuTLS waits for each
  // read in select() up to what is left. The socket's own time-outs bound
  // any wait it makes without one.
  gnutls_handshake_set_timeout(session.get(), static_cast<unsigned int>(timeout_ms));
  timeval each = {timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  setsockopt(s.fd(), SOL_SOCKET, SO_RCVTIMEO, &each, sizeof(each));
  setsockopt(s.fd(), SOL_SOCKET, SO_SNDTIMEO, &each, sizeof(each));
  int rc;
  do {
    rc = gnutls_handshake(session.get());
  } while (rc < 0 && gnutls_error_is_fatal(rc) == 0 && rc != GNUTLS_E_TIMEDOUT &&
           rc != GNUTLS_E_AGAIN);
  if (rc < 0) return CertificateVerdict::kUnavailable;

  unsigned int count = 0;
  const gnutls_datum_t* peers = gnutls_certificate_get_peers(session.get(), &count);
  if (peers == nullptr || count == 0) return CertificateVerdict::kUnreadable;
  Chain chain;
  for (unsigned int i = 0; i < count; ++i) {
    if (!chain.Add(peers[i])) return CertificateVerdict::kUnreadable;
  }
  return Judge(chain, pem, host);
}

}  // namespace platform
}  // namespace wendrel
