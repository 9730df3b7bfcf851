// Driving the native store from other processes: the store probe program
// (its path in WENDREL_STORE_PROBE) and the files it leaves as signals.

#ifndef WENDREL_TESTS_UNIT_PLATFORM_STORE_PROBE_POSIX_H_
#define WENDREL_TESTS_UNIT_PLATFORM_STORE_PROBE_POSIX_H_

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace wendrel {
namespace platform {

// The key the probes write to.
constexpr char kStress[] = "Software\\Tarvos\\Stress";

inline std::string Quote(const std::string& text) { return "'" + text + "'"; }

inline int Probe(const std::string& arguments) {
  return std::system((Quote(WENDREL_STORE_PROBE) + " " + arguments).c_str());
}

// Waits at most `limit` for `path` to exist (with present false, to be gone).
inline bool WaitFor(const std::string& path, bool present, std::chrono::seconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (std::filesystem::exists(path) != present) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_TESTS_UNIT_PLATFORM_STORE_PROBE_POSIX_H_
