// The application object and the module state of the application framework
// stand-in.
//
// CWinApp: the library's one application object derives from it. Its
// InitInstance and ExitInstance run when the library is loaded and unloaded
// (from DllMain on Windows; from the shared library's load and unload hooks
// natively), after static initialisation has constructed the object.
//
// Module state: the library's own framework state, of which the current
// resource module (where string-table texts and dialog templates are loaded
// from) is what the extension relies on. Every entry from outside switches to
// it with AfxManageState and gets the caller's state back on every way out.

#ifndef WENDREL_PLATFORM_FRAMEWORK_APP_H_
#define WENDREL_PLATFORM_FRAMEWORK_APP_H_

#include "platform/framework/object.h"
#include "platform/resources.h"

namespace wendrel {

class CWinApp : public CObject {
 public:
  // Becomes the application object that AfxGetApp returns.
  explicit CWinApp(const char* app_name = nullptr);
  ~CWinApp() override;

  // Non-zero when start-up succeeded.
  virtual int InitInstance();
  // The exit code; 0.
  virtual int ExitInstance();

  const char* app_name() const { return app_name_; }

 private:
  const char* app_name_;
};

// The application object, or null when none exists.
CWinApp* AfxGetApp();

struct AfxModuleState {
  // The module resources are taken from; null means the library itself.
  platform::ResourceModule resource_module = nullptr;
};

// The library's own module state.
AfxModuleState* AfxGetStaticModuleState();
// The state in effect on this thread: the one last switched to, else the
// library's own.
AfxModuleState* AfxGetModuleState();

// Resource module of the state in effect (and the current one for resource
// loads).
void AfxSetResourceHandle(platform::ResourceModule module);
platform::ResourceModule AfxGetResourceHandle();

// Switches this thread to `state` for the guard's lifetime and restores the
// previous state (and its current resource module) when it ends, however the
// scope is left.
class AfxManageState {
 public:
  explicit AfxManageState(AfxModuleState* state);
  ~AfxManageState();
  AfxManageState(const AfxManageState&) = delete;
  AfxManageState& operator=(const AfxManageState&) = delete;

 private:
  AfxModuleState* previous_state_;
  platform::ResourceModule previous_resource_;
};

// What an entry from outside writes first, as with the framework's macro.
#define AFX_MANAGE_STATE(state) ::wendrel::AfxManageState afx_manage_state_guard_(state)

}  // namespace wendrel

#endif  // WENDREL_PLATFORM_FRAMEWORK_APP_H_
