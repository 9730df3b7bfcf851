// ServerProbes: the parallel probe of "Probe Servers In Parallel". Every
// given server is probed at once, each probe doing what the server walk's
// connection step does (connect, TLS where configured, bind with the
// server's credentials, read the tree name of the root entry), all of it
// bounded by that server's own connection time-out. A server that accepts
// the TCP connection and never answers fails its probe like one that
// refuses it.
//
// Ownership: each probe runs on a detached thread and shares only a
// reference-counted group block with this object, so a probe still blocked
// in a connect that cannot be cancelled (wldap32's is synchronous) may
// outlive the search: it ends by its own time-out, closes its own
// connection and touches nothing but the group block. Destroying this object
// cancels the probes; each one that is waiting for an answer sees that
// within a fraction of a second, closes its connection and ends.

#ifndef WENDREL_DIRECTORY_SERVER_PROBE_H_
#define WENDREL_DIRECTORY_SERVER_PROBE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace wendrel {

class LDAPServer;

// What the connection step needs of one configured server.
struct ServerEndpoint {
  std::string host;
  int32_t port = 389;
  bool use_ssl = false;
  std::string certificate;
  std::string bind_dn;
  std::string password;
  int32_t connection_timeout = 5;  // seconds

  std::string Key() const;
};

// Server `name`, with the settings of the server `servers` stands on.
ServerEndpoint CurrentEndpoint(const std::string& name, const LDAPServer& servers);
// Only what Key() needs (address, port, TLS): fewer registry reads where
// the server is not going to be probed.
ServerEndpoint CurrentEndpointKey(const std::string& name, const LDAPServer& servers);

enum class ProbeOutcome {
  kPending,         // no answer yet (after Wait: cancelled by a stop request)
  kUsable,          // bound and read a tree name: the walk tries it
  kNoTreeName,      // answered, but no usable tree name: skipped, not unreachable
  kCertificateRefused,  // TLS certificate refused or not checked: skipped,
                        // not unreachable
  kUnreachable,     // refused, cut off, or no answer within the time-out
  kLeftToTheWalk,   // the probe could not even start (certificate file,
                    // handle, thread): the walk's own step meets and reports it
};

// Waits at most timeout_ms until no probe of this process is running any
// more (each ends by its own time-out at the latest); true when none is.
// The terminate event waits here before it shuts the TLS client down.
bool WaitForProbesToEnd(uint32_t timeout_ms);

class ServerProbes {
 public:
  // Starts one probe per endpoint at once. A non-zero *stop (when given)
  // ends the probes and the wait, like destroying the object.
  ServerProbes(const std::vector<ServerEndpoint>& endpoints, const std::atomic<int>* stop);
  ~ServerProbes();

  ServerProbes(const ServerProbes&) = delete;
  ServerProbes& operator=(const ServerProbes&) = delete;

  // Waits until every probe has answered, the longest connection time-out
  // has passed, or *stop is set; a probe without an answer by then counts as
  // unreachable (kPending only when stopped). Outcomes are final afterwards.
  void Wait();

  ProbeOutcome Outcome(size_t index) const { return outcomes_.at(index); }
  // Whether the walk skips the server, as it skips one it cannot bind to.
  bool Failed(size_t index) const;

  // Shared by the probe threads and this object (defined in the .cc file).
  struct Group;

 private:
  std::shared_ptr<Group> group_;
  std::vector<ProbeOutcome> outcomes_;
  int32_t longest_timeout_ = 0;
};

}  // namespace wendrel

#endif  // WENDREL_DIRECTORY_SERVER_PROBE_H_
