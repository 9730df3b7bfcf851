// The retry memory of "Unreachable Server Retry Seconds": servers that could
// not be reached, remembered by this loaded extension for a number of
// seconds so that the searches in that time skip them instead of paying
// their connection time-out again.
//
// One instance per process (the login host keeps the extension loaded
// between logins). The start-up worker and the login thread both report to
// it, so every call takes its lock. The login driver clears it when the host
// terminates the extension.
//
// Each clear begins a new generation. A reporter that may outlive a clear
// takes the generation when it starts and reports with it: the start-up
// worker, which natively goes on running when terminate has stopped waiting
// for it, must not refill the memory of the session that follows.

#ifndef WENDREL_DIRECTORY_UNREACHABLE_SERVERS_H_
#define WENDREL_DIRECTORY_UNREACHABLE_SERVERS_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace wendrel {

// A server as the memory knows it: its address, port and whether it speaks
// TLS (the same host on another port is another server).
std::string UnreachableServerKey(const std::string& host, int port, bool use_ssl);

// True for the result codes of a failed connection attempt or bind that
// mean nobody answered: "server down" (refused, reset, or a TLS handshake
// cut off by the time-out) and "time-out". Any other code says the server
// said something (a certificate it sent and we refused, for one).
bool IsUnansweredCode(int code);

// True for the result code of a TLS connection that was not used because
// the server's certificate was refused or could not be checked. Such a
// server is skipped as a certificate failure and is never remembered as
// unreachable, whatever the library made of the torn-down connection.
bool IsCertificateFailureCode(int code, bool use_ssl);

class UnreachableServers {
 public:
  using Clock = std::chrono::steady_clock;

  static UnreachableServers& Instance();

  // Reports made with this generation count until the next Clear.
  uint64_t Generation();

  // Remembers `key` as unreachable for `seconds` from now (renewed when
  // already remembered). seconds <= 0 remembers nothing; nor does a report
  // of an earlier `generation` (by default the current one).
  void Remember(const std::string& key, int32_t seconds);
  void Remember(const std::string& key, int32_t seconds, uint64_t generation);
  // The server answered: it is no longer remembered (unless the report is
  // of an earlier generation).
  void Forget(const std::string& key);
  void Forget(const std::string& key, uint64_t generation);
  // Whether `key` is remembered now; an entry whose time is over is
  // forgotten on the way.
  bool IsRemembered(const std::string& key);
  void Clear();

 private:
  std::mutex mutex_;
  uint64_t generation_ = 0;
  std::map<std::string, Clock::time_point> until_;
};

}  // namespace wendrel

#endif  // WENDREL_DIRECTORY_UNREACHABLE_SERVERS_H_
