#include "tests/integration/support/directory_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

namespace wendrel {
namespace testing {
namespace {

constexpr const char kScript[] = WENDREL_SLAPD_FIXTURE;  // Unix paths
constexpr const char kRoot[] = WENDREL_FIXTURE_ROOT;

// Starting a few servers with TLS takes about a second; slow machines and
// sanitizer builds get plenty of room.
constexpr auto kCommandTimeout = std::chrono::seconds(30);

// Under Wine, cmd starts a Unix program only through "start /unix", which
// does not wait for it (nor does std::system for any Unix program): callers
// wait for the script's result file instead.
void RunScript(const std::string& args) {
#ifdef _WIN32
  const std::string command = std::string("start /unix ") + kScript + " " + args;
#else
  const std::string command = std::string(kScript) + " " + args;
#endif
  std::system(command.c_str());
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(HostPath(path), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return static_cast<bool>(in);
}

bool Exists(const std::string& path) { return std::ifstream(HostPath(path)).good(); }

std::map<std::vector<std::string>, std::unique_ptr<DirectoryFixture>> shared;

}  // namespace

std::string HostPath(const std::string& unix_path) {
#ifdef _WIN32
  std::string out = "Z:" + unix_path;
  std::replace(out.begin(), out.end(), '/', '\\');
  return out;
#else
  return unix_path;
#endif
}

DirectoryFixture* SharedDirectory(const std::vector<std::string>& specs, std::string* error) {
  std::unique_ptr<DirectoryFixture>& dir = shared[specs];
  if (dir == nullptr) {
    dir.reset(new DirectoryFixture);
    if (!dir->Start(specs)) {
      *error = dir->error();
      dir.reset();
    }
  }
  return dir.get();
}

void StopSharedDirectories() { shared.clear(); }

DirectoryFixture::DirectoryFixture() {
  std::random_device rd;
  std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd() ^
                      std::chrono::steady_clock::now().time_since_epoch().count());
  char name[32];
  std::snprintf(name, sizeof(name), "/dir-%016llx", static_cast<unsigned long long>(gen()));
  dir_ = kRoot + std::string(name);
}

DirectoryFixture::~DirectoryFixture() {
  if (!started_ && !Exists(dir_ + "/state.json") && !Exists(dir_ + "/result.txt")) return;
  RunScript("cleanup " + dir_);
  // Under Wine the script runs on after std::system returns; wait for the
  // instance to be gone so that no test leaves servers behind.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (Exists(dir_ + "/state.json") && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool DirectoryFixture::Run(const std::string& args, std::chrono::seconds timeout) {
  const std::string result_path = dir_ + "/result.txt";
  std::remove(HostPath(result_path).c_str());
  RunScript(args);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string result;
  while (!ReadFile(result_path, &result)) {
    if (std::chrono::steady_clock::now() > deadline) {
      error_ = "slapd_fixture gave no result for: " + args;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  result.erase(result.find_last_not_of("\r\n") + 1);
  if (result != "ok") {
    error_ = result;
    return false;
  }
  return Load();
}

bool DirectoryFixture::Start(const std::vector<std::string>& specs, const StartLimits& limits) {
  if (started_) {
    error_ = "already started";
    return false;
  }
  std::string args = "start " + dir_ + " --ttl " + std::to_string(limits.lifetime.count());
  for (const std::string& spec : specs) args += " --server " + spec;
  started_ = true;
  return Run(args, std::max(limits.start, kCommandTimeout));
}

bool DirectoryFixture::Control(const char* action, size_t i) {
  if (i >= servers_.size()) {
    error_ = "no server " + std::to_string(i);
    return false;
  }
  return Run(std::string(action) + " " + dir_ + " " + std::to_string(i), kCommandTimeout);
}

bool DirectoryFixture::Load() {
  std::string text;
  if (!ReadFile(dir_ + "/fixture.txt", &text)) {
    error_ = "no fixture.txt in " + dir_;
    return false;
  }
  values_.clear();
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos) values_[line.substr(0, eq)] = line.substr(eq + 1);
  }
  auto value = [this](const std::string& key) { return values_[key]; };
  auto number = [&](const std::string& key) { return std::atoi(value(key).c_str()); };
  servers_.clear();
  for (int i = 0; i < number("server.count"); ++i) {
    const std::string p = "server." + std::to_string(i) + ".";
    servers_.push_back({value(p + "tree"), value(p + "host"), number(p + "port"),
                        number(p + "tls_port"), number(p + "proxy_port"), File(p + "cert"),
                        value(p + "suffix"), value(p + "admin_dn"), value(p + "password")});
  }
  silent_host_ = value("listener.host");
  silent_port_ = number("listener.port");
  closed_host_ = value("closed.host");
  closed_port_ = number("closed.port");
  return true;
}

std::string DirectoryFixture::File(const std::string& key) const {
  auto it = values_.find(key);
  return it == values_.end() || it->second.empty() ? std::string() : HostPath(it->second);
}

std::string DirectoryFixture::NonCertificatePath() const {
  return HostPath(dir_ + "/fixture.txt");
}

}  // namespace testing
}  // namespace wendrel
