// A stand-in "ICMP.DLL" that holds callers to Windows' documented contract
// where Wine's own is laxer: IcmpSendEcho's reply buffer must hold one
// ICMP_ECHO_REPLY, the request data and 8 more bytes (room for an ICMP
// error message), or the call fails with ERROR_INSUFFICIENT_BUFFER and
// writes nothing. A call that keeps the rule is passed to the real echo
// (iphlpapi's, which Wine's own ICMP.DLL forwards to as well).
//
// Tests load it from their program's folder with WINEDLLOVERRIDES=icmp=n,b.

#include <windows.h>
#include <ipexport.h>

namespace {

using CreateFileFn = HANDLE(WINAPI*)();
using CloseHandleFn = BOOL(WINAPI*)(HANDLE);
using SendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION, LPVOID,
                                  DWORD, DWORD);

constexpr DWORD kIcmpErrorMessageBytes = 8;

// The real service; iphlpapi is loaded once and stays for the process.
HMODULE RealService() {
  static HMODULE module = LoadLibraryA("iphlpapi.dll");
  return module;
}

template <typename Fn>
Fn Real(const char* name) {
  HMODULE module = RealService();
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

extern "C" {

HANDLE WINAPI IcmpCreateFile() {
  CreateFileFn real = Real<CreateFileFn>("IcmpCreateFile");
  if (real == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return real();
}

BOOL WINAPI IcmpCloseHandle(HANDLE handle) {
  CloseHandleFn real = Real<CloseHandleFn>("IcmpCloseHandle");
  return real != nullptr && real(handle);
}

DWORD WINAPI IcmpSendEcho(HANDLE handle, IPAddr destination, LPVOID request_data,
                          WORD request_size, PIP_OPTION_INFORMATION options, LPVOID reply_buffer,
                          DWORD reply_size, DWORD timeout_ms) {
  if (reply_buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (reply_size < sizeof(ICMP_ECHO_REPLY) + request_size + kIcmpErrorMessageBytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  SendEchoFn real = Real<SendEchoFn>("IcmpSendEcho");
  if (real == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return real(handle, destination, request_data, request_size, options, reply_buffer, reply_size,
              timeout_ms);
}

}  // extern "C"
