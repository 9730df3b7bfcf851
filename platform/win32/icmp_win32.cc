// The ICMP and names port on Windows: "ICMP.DLL" loaded at run time, its
// entry points looked up by name, and Winsock 1.1.

#include "platform/icmp.h"

#include <winsock2.h>
#include <windows.h>
#include <ipexport.h>

#include <cstring>

namespace wendrel {
namespace platform {

bool ParseIpv4Address(const char* text, uint32_t* address) {
  if (text == nullptr) return false;
  // INADDR_NONE is both the failure value and 255.255.255.255.
  unsigned long parsed = inet_addr(text);
  if (parsed == INADDR_NONE) return false;
  *address = static_cast<uint32_t>(parsed);
  return true;
}

namespace {

using IcmpCreateFileFn = HANDLE(WINAPI*)();
using IcmpCloseHandleFn = BOOL(WINAPI*)(HANDLE);
using IcmpSendEchoFn = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION,
                                      LPVOID, DWORD, DWORD);

constexpr WORD kWinsockVersion = 0x0101;  // 1.1, exactly
constexpr UCHAR kTimeToLive = 255;

// The reply buffer: one echo-reply record plus the 8 bytes of an ICMP error
// message, and no room for data since the request carries none. A 32-bit
// build's fixed 40 bytes held that (a 28-byte record plus 8); on x64 the
// record alone is 40 bytes, and Windows refuses a buffer without the 8 extra
// bytes (ERROR_INSUFFICIENT_BUFFER, no reply written), which made every host
// look unreachable. Only the record's status is read.
constexpr size_t kIcmpErrorMessageBytes = 8;
constexpr size_t kReplySize = sizeof(ICMP_ECHO_REPLY) + kIcmpErrorMessageBytes;
static_assert(sizeof(void*) != 8 || kReplySize == 48, "one 64-bit echo-reply record + 8");

// Owner of the loaded module.
class Module {
 public:
  explicit Module(HMODULE module) : module_(module) {}
  ~Module() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

// Owner of one Winsock start-up (WSAStartup ... WSACleanup).
class WinsockStart {
 public:
  WinsockStart() = default;
  ~WinsockStart() {
    if (started_) WSACleanup();
  }
  WinsockStart(const WinsockStart&) = delete;
  WinsockStart& operator=(const WinsockStart&) = delete;

  // True when Winsock started with version 1.1 exactly. A start that gave
  // another version is still released by the destructor.
  bool Start() {
    WSADATA data;
    std::memset(&data, 0, sizeof(data));
    if (WSAStartup(kWinsockVersion, &data) != 0) return false;
    started_ = true;
    return data.wVersion == kWinsockVersion;
  }

 private:
  bool started_ = false;
};

class Win32Echo : public IcmpEcho {
 public:
  Win32Echo(HANDLE handle, IcmpCloseHandleFn close, IcmpSendEchoFn send)
      : handle_(handle), close_(close), send_(send) {}
  ~Win32Echo() override { close_(handle_); }
  Win32Echo(const Win32Echo&) = delete;
  Win32Echo& operator=(const Win32Echo&) = delete;

  bool SendEcho(uint32_t address, uint32_t timeout_ms, uint32_t* reply_status) override {
    IP_OPTION_INFORMATION options;
    std::memset(&options, 0, sizeof(options));
    options.Ttl = kTimeToLive;
    options.Tos = 0;
    options.Flags = 0;
    options.OptionsSize = 0;
    options.OptionsData = nullptr;
    // Aligned storage for the record; the status is cleared before the
    // request, since only it is read afterwards.
    alignas(ICMP_ECHO_REPLY) unsigned char buffer[kReplySize];
    std::memset(buffer, 0, sizeof(buffer));
    ICMP_ECHO_REPLY* reply = reinterpret_cast<ICMP_ECHO_REPLY*>(buffer);
    reply->Status = 0;
    DWORD replies = send_(handle_, static_cast<IPAddr>(address), nullptr, 0, &options, buffer,
                          static_cast<DWORD>(kReplySize), timeout_ms);
    if (replies == 0) return false;
    *reply_status = reply->Status;
    return true;
  }

 private:
  HANDLE handle_;
  IcmpCloseHandleFn close_;
  IcmpSendEchoFn send_;
};

class Win32PingService : public PingService {
 public:
  Win32PingService(std::unique_ptr<Module> module, std::unique_ptr<WinsockStart> winsock,
                   IcmpCreateFileFn create, IcmpCloseHandleFn close, IcmpSendEchoFn send)
      : module_(std::move(module)),
        winsock_(std::move(winsock)),
        create_(create),
        close_(close),
        send_(send) {}

  bool HostByAddress(uint32_t address, uint32_t* first) override {
    return FirstAddress(gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET),
                        first);
  }

  bool HostByName(const char* name, uint32_t* first) override {
    return FirstAddress(gethostbyname(name), first);
  }

  std::unique_ptr<IcmpEcho> OpenEcho() override {
    HANDLE handle = create_();
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return nullptr;
    return std::make_unique<Win32Echo>(handle, close_, send_);
  }

 private:
  static bool FirstAddress(const hostent* entry, uint32_t* first) {
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
      return false;
    }
    std::memcpy(first, entry->h_addr_list[0], 4);
    return true;
  }

  // Members are destroyed in reverse order: Winsock is released before the
  // module is unloaded.
  std::unique_ptr<Module> module_;
  std::unique_ptr<WinsockStart> winsock_;
  IcmpCreateFileFn create_;
  IcmpCloseHandleFn close_;
  IcmpSendEchoFn send_;
};

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::unique_ptr<PingService> PingService::Start() {
  auto module = std::make_unique<Module>(LoadLibraryA("ICMP.DLL"));
  if (module->get() == nullptr) return nullptr;
  auto create = Lookup<IcmpCreateFileFn>(module->get(), "IcmpCreateFile");
  auto close = Lookup<IcmpCloseHandleFn>(module->get(), "IcmpCloseHandle");
  auto send = Lookup<IcmpSendEchoFn>(module->get(), "IcmpSendEcho");
  if (create == nullptr || close == nullptr || send == nullptr) return nullptr;
  auto winsock = std::make_unique<WinsockStart>();
  if (!winsock->Start()) return nullptr;
  return std::make_unique<Win32PingService>(std::move(module), std::move(winsock), create, close,
                                            send);
}

}  // namespace platform
}  // namespace wendrel
