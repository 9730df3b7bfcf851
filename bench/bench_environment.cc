#include "bench/bench_environment.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "config/registry_paths.h"
#include "core/login_driver.h"
#include "core/login_host.h"
#include "core/wendrel_app.h"
#include "host/qzlogin_options.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/ui.h"

namespace wendrel {
namespace bench {
namespace {

using platform::RegKey;

// Set by bench/CMakeLists.txt.
constexpr char kGenerator[] = WENDREL_GENERATE_DIRECTORY;

// Generous for 100,000 users on a busy two-core machine (about 5 s idle).
constexpr std::chrono::seconds kLoadTimeout{180};
// The whole run, with room; the fixture's watchdog removes the server after
// it even if this process dies.
constexpr std::chrono::seconds kLifetime{1800};
// The map holds 100,000 users with their indexes in about 120 MB.
constexpr char kMapSize[] = "1073741824";

void WriteDword(RegKey& key, const std::string& name, uint32_t value) {
  key.SetValue(name, platform::kRegDword, &value, sizeof value);
}

void WriteString(RegKey& key, const std::string& name, const std::string& value) {
  key.SetValue(name, platform::kRegSz, value.c_str(), static_cast<uint32_t>(value.size() + 1));
}

RegKey CreateKey(const std::string& path) {
  RegKey key;
  key.Create(RegKey::LocalMachine(), path, platform::kKeyAllAccess, nullptr, nullptr);
  return key;
}

// --- The login host's side -------------------------------------------------

unsigned char g_host_table[kHostServiceTableSize];
unsigned char g_host_handle[kHostHandleEntries * sizeof(void*)];
int g_notifications = 0;
std::string g_messages;

int32_t HostHandler(void*, uint32_t, uint32_t, uint32_t, void*, uintptr_t, uint32_t) {
  return 0;
}

int32_t HostNotify(void*, uint32_t code, uint32_t, uint32_t, uintptr_t) {
  if (code == kNotifyResolved) ++g_notifications;
  return 0;
}

int32_t HostInit(void** table, const LoginExtVersion*, uintptr_t*, uintptr_t, uintptr_t) {
  std::memset(g_host_table, 0, sizeof g_host_table);
  StoreEventHandler(g_host_table, &HostHandler);
  *table = g_host_table;
  return 0;
}

// A failure during a benchmark must not wait at a terminal: the text is kept
// and the benchmark reports it.
class RecordingPresenter : public platform::MessageBoxPresenter {
 public:
  int Show(const std::string&, const std::string& text, uint32_t) override {
    g_messages += text + "\n";
    return platform::kIdOk;
  }
};

void HandshakeOnce() {
  static const bool done = [] {
    static RecordingPresenter presenter;
    platform::SetMessageBoxPresenter(&presenter);
    StoreEntry(g_host_handle, kHostHandleNotifyEntry, &HostNotify);
    return PerformHandshake(&HostInit) == 0;
  }();
  (void)done;
}

}  // namespace

Environment& TheEnvironment() {
  // Destroyed at exit, which stops the server and removes the files.
  static Environment environment;
  return environment;
}

bool Environment::Start(int users) {
  users_ = users;
  work_dir_ = platform::TemporaryDirectory() + "/wendrel-bench-" +
              std::to_string(platform::CurrentProcessId());
  std::filesystem::remove_all(work_dir_);
  std::filesystem::create_directories(work_dir_);
  const std::string ldif = work_dir_ + "/directory.ldif";
  const std::string generate = std::string(kGenerator) + " " + std::to_string(users) + " " +
                               kSuffix + " " + ldif;
  if (std::system(generate.c_str()) != 0) {
    error_ = "generating the directory failed: " + generate;
    return false;
  }
  testing::DirectoryFixture::StartLimits limits;
  limits.lifetime = kLifetime;
  limits.start = kLoadTimeout;
  const std::string spec =
      std::string(kTree) + ":ldif=" + ldif + ":index=cn,mail,uid:maxsize=" + kMapSize;
  if (!fixture_.Start({spec}, limits)) {
    error_ = fixture_.error();
    return false;
  }
  std::filesystem::remove(ldif);
  store_path_ = work_dir_ + "/registry.db";
  platform::SetEnvironmentVariable("WENDREL_REGISTRY", store_path_);
  return true;
}

Environment::~Environment() {
  if (!work_dir_.empty()) std::filesystem::remove_all(work_dir_);
}

int Environment::BulkCount() const { return std::min(5000, users_ / 2); }

std::string Environment::SingleUser() const {
  // Numbered from 0 among the users that are not bulk: one in the middle.
  char name[16];
  std::snprintf(name, sizeof name, "u%06d", (users_ - BulkCount()) / 2);
  return name;
}

Endpoint Environment::directory() const {
  return {fixture_.server(0).host, fixture_.server(0).port};
}
Endpoint Environment::closed() const { return {fixture_.closed_host(), fixture_.closed_port()}; }
Endpoint Environment::silent() const { return {fixture_.silent_host(), fixture_.silent_port()}; }
std::string Environment::bind_dn() const { return fixture_.server(0).admin_dn; }
std::string Environment::password() const { return fixture_.server(0).password; }

std::string Environment::FilterFor(const std::string& name) {
  return "(&(objectClass=inetOrgPerson)(|(cn=" + name + ")))";
}

void Environment::Configure(const std::vector<Endpoint>& servers, bool use_cache,
                            bool allow_wildcards) {
  RegKey options = CreateKey(kOptionsKeyPath);
  WriteDword(options, "Contextless Login Enabled", 1);
  WriteDword(options, "Search Username", 1);
  WriteDword(options, "UseCachedResults", use_cache ? 1 : 0);
  WriteDword(options, "Allow Wildcards", allow_wildcards ? 1 : 0);

  RegKey list = CreateKey(kServersKeyPath);
  RegKey settings = CreateKey(kServerSettingsKeyPath);
  for (size_t i = 0; i < 4; ++i) list.DeleteValue(std::to_string(i));
  for (size_t i = 0; i < servers.size(); ++i) {
    const std::string n = std::to_string(i);
    WriteString(list, n, servers[i].host);
    WriteDword(settings, "Port " + n, static_cast<uint32_t>(servers[i].port));
    WriteDword(settings, "ConnectionTimeout " + n, 1);
    WriteString(settings, "Proxy Username " + n, bind_dn());
    WriteString(settings, "Proxy Password " + n, password());
  }
  RegKey trees = CreateKey(kTreesKeyPath);
  WriteString(trees, "0", kTree);
}

InProcessHost::InProcessHost(const std::string& user) {
  HandshakeOnce();
  qzlogin::Options options;
  options.user = user;
  options.tree = kTree;
  start_info_ = std::make_unique<qzlogin::StartInfo>(options);
  LoginExtCallback(g_host_handle, kEventStart, 0, 0, start_info_->record(), 0, 0);
}

bool InProcessHost::TabData() {
  const int before = g_notifications;
  LoginExtCallback(g_host_handle, kEventTabData, 0, 0, start_info_->record(), 0, 0);
  return g_notifications == before + 1;
}

std::string InProcessHost::TakeMessages() {
  std::string messages;
  messages.swap(g_messages);
  return messages;
}

}  // namespace bench
}  // namespace wendrel
