// ServerFailover: what "Probe Servers In Parallel" and "Unreachable Server
// Retry Seconds" change in the user search's server walk, and nothing else.
// The walk still goes through the configured servers in list order and
// decides about each exactly as before; this only tells it which servers to
// skip the way it skips one it cannot bind to (silently, not listed), and
// hears how each bind went so the retry memory stays current.
//
// With both options off it reads nothing more than the two options and
// skips nothing: the walk is the plain sequential one.

#ifndef WENDREL_SEARCH_SERVER_FAILOVER_H_
#define WENDREL_SEARCH_SERVER_FAILOVER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "directory/server_probe.h"

namespace wendrel {

class LDAPConfigOptions;
class LDAPServer;

class ServerFailover {
 public:
  // Reads the two options; when either is on, walks `servers` once (leaving
  // it to be restarted with FirstServer), consults the retry memory and runs
  // the parallel probe, which may take up to the longest connection
  // time-out. `stop`, when given, ends the probe early.
  ServerFailover(const LDAPConfigOptions& options, LDAPServer& servers,
                 const std::atomic<int>* stop);
  ~ServerFailover();

  // Whether the walk skips server `index` of the list.
  bool Skips(size_t index) const;
  // Why the walk skips server `index`, in words for the administrator's
  // event: "its probe failed" or "remembered as unreachable".
  const char* WhySkipped(size_t index) const;
  // The port of a server the walk skips, as read for the skip decision (the
  // walk reads nothing more of a server it does not try).
  int32_t SkippedPort(size_t index) const { return endpoints_[index].port; }
  // How the walk's own bind to server `index` went: answered (anything, an
  // error or a certificate we refused too) or not answered at all. Neither:
  // failed for another reason.
  void NoteBind(size_t index, bool answered, bool unanswered);

  // Which endpoints the memory makes a walk skip: all of them when all are
  // remembered, since the memory must never turn an outage into a certain
  // failure.
  static std::vector<bool> RememberedToSkip(const std::vector<ServerEndpoint>& endpoints);
  // The probe's verdicts into the retry memory, unless it was cleared since
  // `generation` (see UnreachableServers).
  static void RememberProbeOutcomes(const std::vector<ServerEndpoint>& endpoints,
                                    const ServerProbes& probes, int32_t retry_seconds,
                                    uint64_t generation);

 private:
  std::vector<ServerEndpoint> endpoints_;
  std::vector<bool> skip_;
  std::vector<bool> probe_failed_;
  int32_t retry_seconds_ = 0;
};

}  // namespace wendrel

#endif  // WENDREL_SEARCH_SERVER_FAILOVER_H_
