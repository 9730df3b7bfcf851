#include "directory/unreachable_servers.h"

#include "platform/ldap.h"

namespace wendrel {

std::string UnreachableServerKey(const std::string& host, int port, bool use_ssl) {
  return host + (use_ssl ? " tls " : " ldap ") + std::to_string(port);
}

bool IsUnansweredCode(int code) {
  return code == platform::kLdapServerDown || code == platform::kLdapTimeout;
}

bool IsCertificateFailureCode(int code, bool use_ssl) {
  // The LDAP port's one code for it (see LdapSslInit).
  return use_ssl && code == platform::kLdapConnectError;
}

UnreachableServers& UnreachableServers::Instance() {
  // Never destroyed: the start-up worker, abandoned at shutdown, may still
  // report to it while the process exits.
  static UnreachableServers* instance = new UnreachableServers;
  return *instance;
}

uint64_t UnreachableServers::Generation() {
  std::lock_guard<std::mutex> lock(mutex_);
  return generation_;
}

void UnreachableServers::Remember(const std::string& key, int32_t seconds) {
  Remember(key, seconds, Generation());
}

void UnreachableServers::Remember(const std::string& key, int32_t seconds,
                                  uint64_t generation) {
  if (seconds <= 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  until_[key] = Clock::now() + std::chrono::seconds(seconds);
}

void UnreachableServers::Forget(const std::string& key) { Forget(key, Generation()); }

void UnreachableServers::Forget(const std::string& key, uint64_t generation) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_) return;
  until_.erase(key);
}

bool UnreachableServers::IsRemembered(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = until_.find(key);
  if (it == until_.end()) return false;
  if (Clock::now() < it->second) return true;
  until_.erase(it);
  return false;
}

void UnreachableServers::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++generation_;
  until_.clear();
}

}  // namespace wendrel
