// qzlogin: plays the login prompt around the extension. It loads the login
// host module, then the extension (which performs its handshake while it is
// being loaded), sends event 0, the --events codes and 18 with a start-info
// record through entry 2 of the host's service table as the extension left
// it, and reports what the host received.
//
// Exit status: 0 when the run completed, whatever the login's outcome; 1 when
// the host module or the extension could not be loaded; 2 for bad arguments.

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdio>

#include "core/login_host.h"
#include "host/host_stand_in.h"
#include "host/module_library.h"
#include "host/qzlogin_options.h"
#include "host/qzlogin_report.h"
#include "host/qzlogin_ui.h"
#include "host/start_info.h"
#include "platform/codepage.h"
#include "tools/wendrel-doctor/utf8_arguments.h"

namespace wendrel {
namespace qzlogin {
namespace {

constexpr int kExitCompleted = 0;
constexpr int kExitCannotLoad = 1;
constexpr int kExitBadArguments = 2;

// The host module's exports qzlogin uses.
struct HostModule {
  std::unique_ptr<ModuleLibrary> library;
  WendrelHostConfigureFn configure = nullptr;
  WendrelHostServiceTableFn service_table = nullptr;
  WendrelHostHandleFn handle = nullptr;
  WendrelHostObserveFn observe = nullptr;
};

bool LoadHost(HostModule* host) {
  std::string path = ProgramFolder() + HostModuleFileName();
  std::string error;
  host->library = ModuleLibrary::Load(path, &error);
  if (host->library == nullptr) {
    std::cerr << "qzlogin: cannot load the host module " << path << ": " << error << '\n';
    return false;
  }
  host->configure =
      reinterpret_cast<WendrelHostConfigureFn>(host->library->Symbol(host::kConfigureExport));
  host->service_table = reinterpret_cast<WendrelHostServiceTableFn>(
      host->library->Symbol(host::kServiceTableExport));
  host->handle = reinterpret_cast<WendrelHostHandleFn>(host->library->Symbol(host::kHandleExport));
  host->observe =
      reinterpret_cast<WendrelHostObserveFn>(host->library->Symbol(host::kObserveExport));
  if (host->configure == nullptr || host->service_table == nullptr || host->handle == nullptr ||
      host->observe == nullptr || host->library->Symbol(kHostInitExport) == nullptr) {
    std::cerr << "qzlogin: " << path << " is not the login host module\n";
    return false;
  }
  return true;
}

bool HasUiScript(const Options& options) {
  return options.dialog != DialogScript::kNone || options.answer != AnswerScript::kNone;
}

UiScript MakeUiScript(const Options& options) {
  UiScript script;
  script.dialog = options.dialog;
  script.dialog_row = options.dialog_row;
  script.answer = options.answer;
#ifdef _WIN32
  // A person answers the real windows only at a console. Not _isatty: it
  // holds for any character device, /dev/null under Wine among them.
  DWORD mode = 0;
  script.interactive =
      !HasUiScript(options) && GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
#else
  script.interactive = !HasUiScript(options) && isatty(STDIN_FILENO);
#endif
  return script;
}

int Run(const Options& options) {
  HostModule host;
  if (!LoadHost(&host)) return kExitCannotLoad;
  host.configure(options.chain ? 1 : 0, options.chain_result);
  SetUiScript(MakeUiScript(options));
  WindowsUiAutomation automation;

  Report report;
  std::string path;  // as the loader takes it
  if (options.extension.empty()) {
    path = ProgramFolder() + ExtensionFileName();
#ifdef _WIN32
    report.extension = platform::Utf16ToUtf8(platform::AnsiToUtf16(path));
#else
    report.extension = path;
#endif
  } else {
    report.extension = options.extension;
#ifdef _WIN32
    path = platform::Utf16ToAnsi(platform::Utf8ToUtf16(options.extension));
#else
    path = options.extension;
#endif
  }
  std::string error;
  std::unique_ptr<ModuleLibrary> extension = ModuleLibrary::Load(path, &error);
  if (extension == nullptr) {
    std::cerr << "qzlogin: cannot load the extension " << report.extension << ": " << error
              << '\n';
    return kExitCannotLoad;
  }

  StartInfo start_info(options);
  std::vector<uint32_t> codes;
  codes.push_back(kEventStart);
  codes.insert(codes.end(), options.events.begin(), options.events.end());
  codes.push_back(kEventTerminate);
  void* host_handle = host.handle();
  WendrelHostObserved observed;
  LoginPrompt prompt;
  for (uint32_t code : codes) {
    // Active while each event is sent, as the real prompt is when the host
    // calls the extension (a box that closed hands the activation back).
    prompt.Activate();
    // Entry 2 is read afresh for each event: whatever the extension left.
    HostEventHandler handler = LoadEventHandler(host.service_table());
    host.observe(&observed);
    const uint32_t own_calls_before = observed.own_handler_calls;
    int32_t result = 0;
    if (handler != nullptr) result = handler(host_handle, code, 0, 0, start_info.record(), 0, 0);
    host.observe(&observed);
    const bool chained = observed.own_handler_calls != own_calls_before;
    report.events.push_back(EventSeen{code, result, chained});
  }

  // Unloaded before the report, so that whatever it does at unload is seen.
  extension.reset();

  host.observe(&observed);
  report.handshake_called = observed.handshake_called != 0;
  report.handshake_result = observed.handshake_result;
  const uint32_t kept = observed.notification_count < WENDREL_HOST_MAX_NOTIFICATIONS
                            ? observed.notification_count
                            : WENDREL_HOST_MAX_NOTIFICATIONS;
  report.notifications.assign(observed.notifications, observed.notifications + kept);
  report.initial_conn_calls = observed.initial_conn_calls;
  report.tree = start_info.Text(kStartInfoTree);
  report.user = start_info.Text(kStartInfoUser);
  report.context = start_info.Text(kStartInfoContext);
  report.field24 = start_info.Text(kStartInfoField24);
  report.calling_module = start_info.calling_module();
  report.message_boxes = MessageBoxesSeen();
  report.dialogs = DialogsSeen();

  // Written at once: on Windows a standard output that is a character device
  // (the console, or NUL) is unbuffered, and the report written a character
  // at a time made one system call, and under Wine one server request, per
  // character: a hundred per login of a long run.
  std::ostringstream text;
  if (options.json) {
    PrintJson(report, &text);
  } else {
    PrintHuman(report, &text);
  }
  const std::string whole = text.str();
  std::fwrite(whole.data(), 1, whole.size(), stdout);
  std::fflush(stdout);
  return kExitCompleted;
}

}  // namespace
}  // namespace qzlogin
}  // namespace wendrel

int main(int argc, char** argv) {
  using namespace wendrel::qzlogin;
  // Fully buffered whatever standard output is (see Run).
  std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  std::vector<std::string> narrow(argv + 1, argv + argc);
  for (const std::string& arg : narrow) {
    if (arg == "--help" || arg == "-h") {
      std::cout << UsageText();
      return kExitCompleted;
    }
  }
  Options options;
  std::string error;
  if (!ParseOptions(wendrel::doctor::Utf8Arguments(narrow, 1), &options, &error)) {
    std::cerr << "qzlogin: " << error << '\n' << UsageText();
    return kExitBadArguments;
  }
  return Run(options);
}
