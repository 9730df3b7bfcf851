#include "directory/server_probe.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "config/ldap_server.h"
#include "directory/unreachable_servers.h"
#include "platform/ldap.h"
#include "platform/ldap_owners.h"
#include "platform/threads.h"

namespace wendrel {
namespace {

using Clock = std::chrono::steady_clock;

// How often a probe waiting for an answer looks at its cancel flags: the
// delay between the end of a search and a waiting probe closing its socket.
constexpr std::chrono::milliseconds kSlice{50};

constexpr char kTreeNameAttribute[] = "directoryTreeName";

// The probes of the process still running, for WaitForProbesToEnd.
struct LiveProbes {
  std::mutex mutex;
  std::condition_variable ended;
  size_t count = 0;
};
LiveProbes& Live() {
  static LiveProbes* live = new LiveProbes;
  return *live;
}

void ProbeEnded() {
  LiveProbes& live = Live();
  {
    std::lock_guard<std::mutex> lock(live.mutex);
    --live.count;
  }
  live.ended.notify_all();
}

using Handle = platform::LdapHandleOwner;
using Message = platform::LdapMessageOwner;
using ValueList = platform::LdapValuesOwner;

int ResultCode(platform::LdapHandle* ld) {
  int code = platform::kLdapServerDown;
  platform::LdapGetOption(ld, platform::kLdapOptResultCode, &code);
  return code;
}

}  // namespace

std::string ServerEndpoint::Key() const { return UnreachableServerKey(host, port, use_ssl); }

ServerEndpoint CurrentEndpointKey(const std::string& name, const LDAPServer& servers) {
  ServerEndpoint endpoint;
  endpoint.host = name;
  endpoint.port = servers.Port();
  endpoint.use_ssl = servers.UseSSL();
  return endpoint;
}

ServerEndpoint CurrentEndpoint(const std::string& name, const LDAPServer& servers) {
  ServerEndpoint endpoint = CurrentEndpointKey(name, servers);
  endpoint.certificate = servers.Certificate();
  endpoint.bind_dn = servers.ProxyUsername();
  endpoint.password = servers.ProxyPassword();
  endpoint.connection_timeout = servers.ConnectionTimeout();
  return endpoint;
}

// What the probes and their owner share; it lives as long as either holds it.
struct ServerProbes::Group {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<ProbeOutcome> outcomes;
  size_t pending = 0;
  std::atomic<bool> cancelled{false};
  const std::atomic<int>* stop = nullptr;  // process-wide, outlives everything

  bool Abandoned() const { return cancelled.load() || (stop != nullptr && stop->load() != 0); }

  void Report(size_t index, ProbeOutcome outcome) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      outcomes[index] = outcome;
      --pending;
    }
    changed.notify_all();
  }
};

namespace {

struct ProbeTask {
  std::shared_ptr<ServerProbes::Group> group;
  size_t index;
  ServerEndpoint endpoint;
};

// Waits for message `msgid` until the deadline, in slices, so that a
// cancelled probe ends within one slice. Returns LdapResult's type; 0 when
// the deadline passed; -2 when the probe was cancelled.
int WaitForAnswer(platform::LdapHandle* ld, int msgid, int all, Clock::time_point deadline,
                  const ServerProbes::Group& group, Message* out) {
  for (;;) {
    if (group.Abandoned()) return -2;
    const Clock::duration left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto slice = std::chrono::duration_cast<std::chrono::microseconds>(
        std::min<Clock::duration>(left, kSlice));
    platform::LdapTimeval wait = {static_cast<int32_t>(slice.count() / 1000000),
                                  static_cast<int32_t>(slice.count() % 1000000)};
    platform::LdapMessage* raw = nullptr;
    const int type = platform::LdapResult(ld, msgid, all, &wait, &raw);
    out->reset(raw);
    if (type != 0) return type;
  }
}

// How a connection that got no bind response failed.
ProbeOutcome FailedConnection(platform::LdapHandle* ld, bool use_ssl) {
  const int code = ResultCode(ld);
  if (IsUnansweredCode(code)) return ProbeOutcome::kUnreachable;
  if (IsCertificateFailureCode(code, use_ssl)) return ProbeOutcome::kCertificateRefused;
  return ProbeOutcome::kNoTreeName;
}

// The walk's connection step against one server, bounded as a whole by its
// connection time-out.
ProbeOutcome Probe(const ServerEndpoint& server, const ServerProbes::Group& group) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::seconds(std::max<int32_t>(server.connection_timeout, 0));
  Handle ld;
  if (server.use_ssl) {
    // The file added is this thread's: other probes add theirs meanwhile.
    if (platform::LdapSslAddTrustedCert(server.certificate.c_str(),
                                        platform::kLdapCertFilePem) != 0) {
      return ProbeOutcome::kLeftToTheWalk;
    }
    ld.reset(platform::LdapSslInit(server.host.c_str(), server.port, 1));
  } else {
    ld.reset(platform::LdapInit(server.host.c_str(), server.port));
  }
  if (ld == nullptr) return ProbeOutcome::kLeftToTheWalk;
  // The probe's own bound on the connect and the TLS handshake: the
  // library-wide time-out belongs to the walk.
  const platform::LdapTimeval connect_timeout = {server.connection_timeout, 0};
  platform::LdapSetOption(ld.get(), platform::kLdapOptNetworkTimeout, &connect_timeout);
  int off = 0;
  platform::LdapSetOption(ld.get(), platform::kLdapOptDeref, &off);
  platform::LdapSetOption(ld.get(), platform::kLdapOptReferrals, &off);

  // The connect (and handshake) happen here, bounded by the time-out above
  // but not cancellable.
  int msgid = platform::LdapSimpleBind(ld.get(), server.bind_dn.c_str(), server.password.c_str());
  if (msgid == -1) return FailedConnection(ld.get(), server.use_ssl);
  Message answer;
  int type = WaitForAnswer(ld.get(), msgid, 0, deadline, group, &answer);
  if (type == -2) return ProbeOutcome::kPending;
  if (type == 0) return ProbeOutcome::kUnreachable;
  if (type == -1) return FailedConnection(ld.get(), server.use_ssl);
  // Like the walk: a bind answered with an error still counts as completed.
  if (type != platform::kLdapResBind) return ProbeOutcome::kNoTreeName;

  char attribute[sizeof(kTreeNameAttribute)];
  std::memcpy(attribute, kTreeNameAttribute, sizeof(kTreeNameAttribute));
  char* attributes[] = {attribute, nullptr};
  if (platform::LdapSearchExt(ld.get(), "", platform::kLdapScopeBase, "(objectClass=*)",
                              attributes, 0, nullptr, nullptr, nullptr, 0,
                              &msgid) != platform::kLdapSuccess) {
    return ProbeOutcome::kNoTreeName;
  }
  type = WaitForAnswer(ld.get(), msgid, 1, deadline, group, &answer);
  if (type == -2) return ProbeOutcome::kPending;
  // It answered the bind: whatever happens to the read, it is not unreachable.
  if (type != platform::kLdapResSearchResult && type != platform::kLdapResSearchEntry) {
    return ProbeOutcome::kNoTreeName;
  }
  platform::LdapMessage* entry = platform::LdapFirstEntry(ld.get(), answer.get());
  if (entry == nullptr) return ProbeOutcome::kNoTreeName;
  ValueList values(platform::LdapGetValues(ld.get(), entry, kTreeNameAttribute));
  if (values == nullptr || values.get()[0] == nullptr) return ProbeOutcome::kNoTreeName;
  return ProbeOutcome::kUsable;
}

uint32_t RunProbe(void* parameter) {
  std::unique_ptr<ProbeTask> task(static_cast<ProbeTask*>(parameter));
  ProbeOutcome outcome = ProbeOutcome::kPending;
  try {
    outcome = Probe(task->endpoint, *task->group);
  } catch (...) {
    // Nothing may leave a thread; the walk's own step will meet the fault.
    outcome = ProbeOutcome::kLeftToTheWalk;
  }
  task->group->Report(task->index, outcome);
  task.reset();  // the group block goes with the last reference
  ProbeEnded();
  return 0;
}

}  // namespace

ServerProbes::ServerProbes(const std::vector<ServerEndpoint>& endpoints,
                           const std::atomic<int>* stop)
    : group_(std::make_shared<Group>()) {
  group_->stop = stop;
  group_->outcomes.assign(endpoints.size(), ProbeOutcome::kPending);
  group_->pending = endpoints.size();
  for (size_t i = 0; i < endpoints.size(); ++i) {
    longest_timeout_ = std::max(longest_timeout_, endpoints[i].connection_timeout);
    auto task = std::make_unique<ProbeTask>(ProbeTask{group_, i, endpoints[i]});
    {
      std::lock_guard<std::mutex> lock(Live().mutex);
      ++Live().count;
    }
    if (platform::StartDetachedThread(RunProbe, task.get())) {
      task.release();  // the thread owns it now
    } else {
      ProbeEnded();
      group_->Report(i, ProbeOutcome::kLeftToTheWalk);
    }
  }
}

ServerProbes::~ServerProbes() { group_->cancelled.store(true); }

void ServerProbes::Wait() {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(longest_timeout_);
  std::unique_lock<std::mutex> lock(group_->mutex);
  for (;;) {
    const bool stopped = group_->stop != nullptr && group_->stop->load() != 0;
    const Clock::duration left = deadline - Clock::now();
    if (group_->pending == 0 || stopped || left <= Clock::duration::zero()) break;
    // In slices, for the stop flag, which nobody signals.
    group_->changed.wait_for(lock, std::min<Clock::duration>(left, kSlice));
  }
  const bool stopped = group_->stop != nullptr && group_->stop->load() != 0;
  outcomes_ = group_->outcomes;
  if (stopped) return;
  for (ProbeOutcome& outcome : outcomes_) {
    if (outcome == ProbeOutcome::kPending) outcome = ProbeOutcome::kUnreachable;
  }
}

bool WaitForProbesToEnd(uint32_t timeout_ms) {
  LiveProbes& live = Live();
  std::unique_lock<std::mutex> lock(live.mutex);
  return live.ended.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&live] { return live.count == 0; });
}

bool ServerProbes::Failed(size_t index) const {
  const ProbeOutcome outcome = Outcome(index);
  return outcome == ProbeOutcome::kNoTreeName || outcome == ProbeOutcome::kUnreachable ||
         outcome == ProbeOutcome::kCertificateRefused || outcome == ProbeOutcome::kPending;
}

}  // namespace wendrel
