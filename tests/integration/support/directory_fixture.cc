#include "tests/integration/support/directory_fixture.h"

#include <algorithm>
#include <chrono>
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

// Set by tests/integration/CMakeLists.txt: the script, and the folder of the
// build tree where instances live (both Unix paths).
constexpr const char kScript[] = WENDREL_SLAPD_FIXTURE;
constexpr const char kRoot[] = WENDREL_FIXTURE_ROOT;

// Starting a few servers with TLS takes about a second; slow machines and
// sanitizer builds get plenty of room.
constexpr auto kCommandTimeout = std::chrono::seconds(30);

// The command line that runs the script with args. Under Wine, cmd starts
// a Unix program only through "start /unix", which does not wait for it
// (nor does std::system for any Unix program): callers wait for the
// script's result file instead.
std::string ScriptCommand(const std::string& args) {
#ifdef _WIN32
  return std::string("start /unix ") + kScript + " " + args;
#else
  return std::string(kScript) + " " + args;
#endif
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream out;
  out << in.rdbuf();
  *text = out.str();
  return true;
}

bool Exists(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

std::string UniqueName() {
  std::random_device rd;
  std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd() ^
                      static_cast<uint64_t>(
                          std::chrono::steady_clock::now().time_since_epoch().count()));
  char buf[32];
  std::snprintf(buf, sizeof(buf), "dir-%016llx", static_cast<unsigned long long>(gen()));
  return buf;
}

int ToInt(const std::string& s) { return std::atoi(s.c_str()); }

std::map<std::vector<std::string>, std::unique_ptr<DirectoryFixture>>& Shared() {
  static auto* shared = new std::map<std::vector<std::string>, std::unique_ptr<DirectoryFixture>>;
  return *shared;
}

}  // namespace

std::string HostPath(const std::string& unix_path) {
#ifdef _WIN32
  std::string out = "Z:";
  for (char c : unix_path) out += c == '/' ? '\\' : c;
  return out;
#else
  return unix_path;
#endif
}

DirectoryFixture* SharedDirectory(const std::vector<std::string>& specs, std::string* error) {
  std::unique_ptr<DirectoryFixture>& dir = Shared()[specs];
  if (dir == nullptr) {
    dir.reset(new DirectoryFixture);
    if (!dir->Start(specs)) {
      *error = dir->error();
      dir.reset();
    }
  }
  return dir.get();
}

void StopSharedDirectories() { Shared().clear(); }

DirectoryFixture::DirectoryFixture() : dir_(std::string(kRoot) + "/" + UniqueName()) {}

DirectoryFixture::~DirectoryFixture() {
  if (!started_ && !Exists(HostPath(dir_ + "/state.json")) &&
      !Exists(HostPath(dir_ + "/result.txt"))) {
    return;
  }
  std::string command = ScriptCommand("cleanup " + dir_);
  std::system(command.c_str());
  // Under Wine the script runs on after std::system returns; wait for the
  // instance to be gone so that no test leaves servers behind.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (Exists(HostPath(dir_ + "/state.json")) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool DirectoryFixture::Run(const std::string& args, std::chrono::seconds timeout) {
  std::string result_path = HostPath(dir_ + "/result.txt");
  std::remove(result_path.c_str());
  std::string command = ScriptCommand(args);
  std::system(command.c_str());
  auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string result;
  while (!ReadFile(result_path, &result)) {
    if (std::chrono::steady_clock::now() > deadline) {
      error_ = "slapd_fixture gave no result for: " + args;
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  if (result != "ok") {
    error_ = result;
    return false;
  }
  return Load();
}

bool DirectoryFixture::Start(const std::vector<std::string>& specs) {
  return Start(specs, StartLimits());
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

std::string DirectoryFixture::Value(const std::map<std::string, std::string>& kv,
                                    const std::string& key) const {
  auto it = kv.find(key);
  return it == kv.end() ? std::string() : it->second;
}

bool DirectoryFixture::Load() {
  std::string text;
  if (!ReadFile(HostPath(dir_ + "/fixture.txt"), &text)) {
    error_ = "no fixture.txt in " + dir_;
    return false;
  }
  std::map<std::string, std::string> kv;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
  }
  servers_.clear();
  int count = ToInt(Value(kv, "server.count"));
  for (int i = 0; i < count; ++i) {
    std::string p = "server." + std::to_string(i) + ".";
    DirectoryServer s;
    s.tree = Value(kv, p + "tree");
    s.host = Value(kv, p + "host");
    s.port = ToInt(Value(kv, p + "port"));
    s.tls_port = ToInt(Value(kv, p + "tls_port"));
    s.proxy_port = ToInt(Value(kv, p + "proxy_port"));
    s.tls = Value(kv, p + "tls");
    s.suffix = Value(kv, p + "suffix");
    s.admin_dn = Value(kv, p + "admin_dn");
    s.password = Value(kv, p + "password");
    const std::string certificate = Value(kv, p + "cert");
    if (!certificate.empty()) s.certificate = HostPath(certificate);
    servers_.push_back(s);
  }
  silent_host_ = Value(kv, "listener.host");
  silent_port_ = ToInt(Value(kv, "listener.port"));
  closed_host_ = Value(kv, "closed.host");
  closed_port_ = ToInt(Value(kv, "closed.port"));
  ca_cert_ = Value(kv, "ca_cert");
  other_ca_cert_ = Value(kv, "other_ca_cert");
  ca_cert_der_ = Value(kv, "ca_cert_der");
  ca_bundle_ = Value(kv, "ca_bundle");
  intermediate_cert_ = Value(kv, "intermediate_cert");
  ca_with_forgery_ = Value(kv, "ca_with_forgery");
  aia_leaf_cert_ = Value(kv, "aia_leaf_cert");
  return true;
}

// The instance's files as this program opens them; "" when not made.
static std::string OptionalHostPath(const std::string& path) {
  return path.empty() ? std::string() : HostPath(path);
}
std::string DirectoryFixture::CaCertPath() const { return OptionalHostPath(ca_cert_); }
std::string DirectoryFixture::OtherCaCertPath() const { return OptionalHostPath(other_ca_cert_); }
std::string DirectoryFixture::CaCertDerPath() const { return OptionalHostPath(ca_cert_der_); }
std::string DirectoryFixture::CaBundlePath() const { return OptionalHostPath(ca_bundle_); }
std::string DirectoryFixture::NonCertificatePath() const {
  return HostPath(dir_ + "/fixture.txt");
}

std::string DirectoryFixture::IntermediateCertPath() const {
  return intermediate_cert_.empty() ? std::string() : HostPath(intermediate_cert_);
}

std::string DirectoryFixture::CaWithForgeryPath() const {
  return ca_with_forgery_.empty() ? std::string() : HostPath(ca_with_forgery_);
}

std::string DirectoryFixture::AiaLeafCertPath() const {
  return aia_leaf_cert_.empty() ? std::string() : HostPath(aia_leaf_cert_);
}

}  // namespace testing
}  // namespace wendrel
