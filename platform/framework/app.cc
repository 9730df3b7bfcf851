#include "platform/framework/app.h"

#include <atomic>

namespace wendrel {
namespace {

std::atomic<CWinApp*> g_app{nullptr};

// Per thread, as the login host's thread and the worker never share a state
// switch. Null means the library's own state.
thread_local AfxModuleState* t_state = nullptr;

}  // namespace

CWinApp::CWinApp(const char* app_name) : app_name_(app_name != nullptr ? app_name : "") {
  g_app.store(this);
}

CWinApp::~CWinApp() {
  CWinApp* self = this;
  g_app.compare_exchange_strong(self, nullptr);
}

int CWinApp::InitInstance() { return 1; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return g_app.load(); }

AfxModuleState* AfxGetStaticModuleState() {
  static AfxModuleState state;
  return &state;
}

AfxModuleState* AfxGetModuleState() {
  return t_state != nullptr ? t_state : AfxGetStaticModuleState();
}

void AfxSetResourceHandle(platform::ResourceModule module) {
  AfxGetModuleState()->resource_module = module;
  platform::SetCurrentResourceModule(module);
}

platform::ResourceModule AfxGetResourceHandle() { return AfxGetModuleState()->resource_module; }

AfxManageState::AfxManageState(AfxModuleState* state)
    : previous_state_(t_state), previous_resource_(platform::CurrentResourceModule()) {
  t_state = state;
  platform::SetCurrentResourceModule(AfxGetModuleState()->resource_module);
}

AfxManageState::~AfxManageState() {
  t_state = previous_state_;
  platform::SetCurrentResourceModule(previous_resource_);
}

}  // namespace wendrel
