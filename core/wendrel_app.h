// CWendrelApp: the extension's application object. Exactly one exists in the
// library, constructed while the library is loaded; its constructor performs
// the handshake with the login host (InitLoginExtension), and its
// InitInstance and ExitInstance run at load and unload. It also keeps the
// language resource module and the copy of the host's service table that
// the login driver chains to.

#ifndef WENDREL_CORE_WENDREL_APP_H_
#define WENDREL_CORE_WENDREL_APP_H_

#include <cstddef>
#include <string>

#include "core/login_host.h"
#include "platform/framework/app.h"
#include "platform/resources.h"

namespace wendrel {

// The host module's file name on this system.
std::string HostModuleName();

// The kept copy of the host's service table: all zero until a successful
// handshake.
const unsigned char* KeptHostTable();
// Entry 2 of the kept copy: the handler the extension replaced, or null.
HostEventHandler ChainedHandler();

// The extension initialisation: reads the options, and when contextless or
// treeless login is on and the host module is loaded, registers
// LoginExtCallback with the host, starts the worker and the reachability
// check. Never throws.
void InitLoginExtension();

// Language resources of the start event and QZLG_TERMINATE. Loading replaces
// nothing already loaded; releasing frees a loaded module exactly once.
void LoadLanguageResources();
void ReleaseLanguageResources();

class CWendrelApp;

class CWendrelApp : public CWinApp {
 public:
  CWendrelApp();
  ~CWendrelApp() override;

  int InitInstance() override;
  int ExitInstance() override;

  platform::ResourceModule language_module() const { return language_module_; }
  void set_language_module(platform::ResourceModule module) { language_module_ = module; }

 private:
  platform::ResourceModule language_module_ = nullptr;
};

// Steps 4 and 5 of the initialisation with the host's QZLoginExtInit: on
// result 0 the host's table is copied and LoginExtCallback written into the
// host's entry 2. Returns the handshake's result (-1 when init is null, with
// nothing done).
int32_t PerformHandshake(QZLoginExtInitFn init);

// The application object when one exists (the library's), else null.
CWendrelApp* TheWendrelApp();

// Zeroes the kept table; for tests that repeat the handshake.
void ResetKeptHostTableForTesting();

}  // namespace wendrel

#endif  // WENDREL_CORE_WENDREL_APP_H_
