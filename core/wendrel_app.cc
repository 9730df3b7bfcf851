#include "core/wendrel_app.h"

#include <cstring>

#include "config/ldap_config_options.h"
#include "core/login_driver.h"
#include "core/self_registration.h"
#include "core/workers.h"
#include "directory/reachability.h"
#include "directory/worker_state.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/trace.h"
#include "standins/resource_language.h"

namespace wendrel {
namespace {

unsigned char g_kept_table[kHostServiceTableSize] = {};

}  // namespace

std::string HostModuleName() {
  return platform::ModuleFileName(platform::IsWindows9xFamily() ? "LGQZ9532" : "LGQZNT32");
}

const unsigned char* KeptHostTable() { return g_kept_table; }

HostEventHandler ChainedHandler() { return LoadEventHandler(g_kept_table); }

void ResetKeptHostTableForTesting() { std::memset(g_kept_table, 0, sizeof g_kept_table); }

int32_t PerformHandshake(QZLoginExtInitFn init) {
  if (init == nullptr) return -1;
  LoginExtVersion version = MakeLoginExtVersion();
  void* table = nullptr;
  uintptr_t second = 0;
  int32_t result = init(&table, &version, &second, 0, 0);
  if (result != 0 || table == nullptr) {
    platform::Trace("QZLoginExtInit returned %d: no callback installed\n", result);
    return result;
  }
  std::memcpy(g_kept_table, table, kHostServiceTableSize);
  // Into the host's own table, not the copy: the copy keeps the handler that
  // every event is passed on to.
  StoreEventHandler(table, &LoginExtCallback);
  return result;
}

void InitLoginExtension() {
  AFX_MANAGE_STATE(AfxGetStaticModuleState());
  try {
    LDAPConfigOptions options;
    if (!options.ContextlessLoginEnabled() && !options.TreelessLoginEnabled()) return;
    // Only a host that has already loaded us is talked to; loading it here
    // would start a login host in a process that is not one.
    platform::Module host = platform::Module::FindLoaded(HostModuleName());
    if (!host.is_open()) return;
    auto init = reinterpret_cast<QZLoginExtInitFn>(host.Symbol(kHostInitExport));
    if (init != nullptr) PerformHandshake(init);
    StartWorker();
    InitPing();
  } catch (const LDAPConfigOptions::BadReg&) {
    // No options key: the extension stays passive.
    platform::Trace("no options key: extension passive\n");
  } catch (...) {
    // Runs inside the host's load of the library: nothing may escape.
    platform::Trace("extension initialisation failed\n");
  }
}

CWendrelApp* TheWendrelApp() { return dynamic_cast<CWendrelApp*>(AfxGetApp()); }

void LoadLanguageResources() {
  CWendrelApp* app = TheWendrelApp();
  if (app == nullptr || app->language_module() != nullptr) return;
  platform::ResourceModule module = ZelLoadResourceFile(ModuleInstance());
  if (module == nullptr) return;
  app->set_language_module(module);
  AfxSetResourceHandle(module);
}

void ReleaseLanguageResources() {
  CWendrelApp* app = TheWendrelApp();
  if (app == nullptr || app->language_module() == nullptr) return;
  platform::ResourceModule module = app->language_module();
  // Cleared before the release, so the module is freed once only and no text
  // is loaded from it afterwards.
  app->set_language_module(nullptr);
  if (AfxGetResourceHandle() == module) AfxSetResourceHandle(nullptr);
  platform::FreeLanguageModule(module);
}

CWendrelApp::CWendrelApp() : CWinApp("wendrel") { InitLoginExtension(); }

// A language module still loaded at unload (no QZLG_TERMINATE came) is left
// loaded on purpose: this runs while the library is being unloaded, under the
// loader's lock on Windows, where FreeLibrary must not be called. The process
// is ending or the host dropped the extension without terminating it; either
// way the module goes with the process.
CWendrelApp::~CWendrelApp() = default;

int CWendrelApp::InitInstance() {
  AFX_MANAGE_STATE(AfxGetStaticModuleState());
  SaveModuleInstance(platform::OwnModule());
  return CWinApp::InitInstance();
}

int CWendrelApp::ExitInstance() {
  AFX_MANAGE_STATE(AfxGetStaticModuleState());
  // Closed only when the wait ran.
  platform::ThreadHandle thread = StopWorker();
  if (thread != nullptr) platform::CloseThreadHandle(thread);
  // The slot is cleared whatever the wait did. A handle still in it belongs
  // to a worker that ended before its handle was stored (it found the slot
  // empty and could not clear it); it was not waited for, so it is not
  // closed but given up (natively the threads port reaps the thread).
  platform::ThreadHandle left = GetWorkerState().thread_handle.exchange(nullptr);
  if (left != nullptr) platform::ForgetThreadHandle(left);
  // What the registry cost this process, for the Windows benchmark (which
  // reads it from Wine's debug output).
  const platform::RegistryCallCounts calls = platform::RegistryCalls();
  platform::Trace("registry calls: %llu opens, %llu queries, %llu writes, %llu closes\n",
                  static_cast<unsigned long long>(calls.opens),
                  static_cast<unsigned long long>(calls.queries),
                  static_cast<unsigned long long>(calls.writes),
                  static_cast<unsigned long long>(calls.closes));
  return CWinApp::ExitInstance();
}

}  // namespace wendrel
