#include "search/server_failover.h"

#include "config/ldap_config_options.h"
#include "config/ldap_server.h"
#include "directory/unreachable_servers.h"

namespace wendrel {

ServerFailover::ServerFailover(const LDAPConfigOptions& options, LDAPServer& servers,
                               const std::atomic<int>* stop) {
  const bool probe = options.ProbeServersInParallel();
  retry_seconds_ = options.UnreachableServerRetrySeconds();
  if (!probe && retry_seconds_ <= 0) return;

  for (std::string name = servers.FirstServer(); !name.empty(); name = servers.NextServer()) {
    endpoints_.push_back(probe ? CurrentEndpoint(name, servers) : CurrentEndpointKey(name, servers));
  }
  skip_ = retry_seconds_ > 0 ? RememberedToSkip(endpoints_)
                             : std::vector<bool>(endpoints_.size(), false);
  if (!probe) return;
  probe_failed_.assign(endpoints_.size(), false);

  // Remembered servers are neither tried nor probed.
  std::vector<ServerEndpoint> targets;
  std::vector<size_t> probed;
  for (size_t i = 0; i < endpoints_.size(); ++i) {
    if (skip_[i]) continue;
    targets.push_back(endpoints_[i]);
    probed.push_back(i);
  }
  if (targets.empty()) return;
  // Cancelled as soon as the verdicts are in: a probe still waiting on a
  // silent server closes its connection now, not when the search ends.
  ServerProbes probes(targets, stop);
  probes.Wait();
  for (size_t t = 0; t < probed.size(); ++t) {
    if (!probes.Failed(t)) continue;
    skip_[probed[t]] = true;
    probe_failed_[probed[t]] = true;
  }
  RememberProbeOutcomes(targets, probes, retry_seconds_,
                        UnreachableServers::Instance().Generation());
}

ServerFailover::~ServerFailover() = default;

bool ServerFailover::Skips(size_t index) const { return index < skip_.size() && skip_[index]; }

const char* ServerFailover::WhySkipped(size_t index) const {
  const bool probed = index < probe_failed_.size() && probe_failed_[index];
  return probed ? "its probe failed" : "remembered as unreachable";
}

void ServerFailover::NoteBind(size_t index, bool answered, bool unanswered) {
  if (retry_seconds_ <= 0 || index >= endpoints_.size()) return;
  const std::string key = endpoints_[index].Key();
  if (answered) UnreachableServers::Instance().Forget(key);
  if (unanswered) UnreachableServers::Instance().Remember(key, retry_seconds_);
}

std::vector<bool> ServerFailover::RememberedToSkip(const std::vector<ServerEndpoint>& endpoints) {
  std::vector<bool> skip(endpoints.size(), false);
  bool all = !endpoints.empty();
  for (size_t i = 0; i < endpoints.size(); ++i) {
    skip[i] = UnreachableServers::Instance().IsRemembered(endpoints[i].Key());
    all = all && skip[i];
  }
  if (all) skip.assign(endpoints.size(), false);
  return skip;
}

void ServerFailover::RememberProbeOutcomes(const std::vector<ServerEndpoint>& endpoints,
                                           const ServerProbes& probes, int32_t retry_seconds,
                                           uint64_t generation) {
  if (retry_seconds <= 0) return;
  UnreachableServers& memory = UnreachableServers::Instance();
  for (size_t i = 0; i < endpoints.size(); ++i) {
    switch (probes.Outcome(i)) {
      case ProbeOutcome::kUnreachable:
        memory.Remember(endpoints[i].Key(), retry_seconds, generation);
        break;
      case ProbeOutcome::kUsable:
      case ProbeOutcome::kNoTreeName:
      case ProbeOutcome::kCertificateRefused:
        memory.Forget(endpoints[i].Key(), generation);
        break;
      default:
        break;
    }
  }
}

}  // namespace wendrel
