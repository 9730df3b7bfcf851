// The resources port on Windows: STRINGTABLE texts through LoadStringA, from
// the extension's own module or a language resource DLL; custom resources (the
// registration script) from the module's file loaded as data.

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/resources.h"

namespace wendrel {
namespace platform {
namespace {

std::atomic<ResourceModule> g_current{nullptr};

HMODULE ModuleToUse() {
  const ResourceModule current = g_current.load();
  return static_cast<HMODULE>(current != nullptr ? current : OwnModule());
}

// Owner of a module loaded as a data file.
class DataModule {
 public:
  explicit DataModule(HMODULE module) : module_(module) {}
  ~DataModule() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  DataModule(const DataModule&) = delete;
  DataModule& operator=(const DataModule&) = delete;
  HMODULE get() const { return module_; }

 private:
  HMODULE module_;
};

int32_t LastErrorOr(int32_t fallback) {
  const DWORD error = GetLastError();
  return error != 0 ? static_cast<int32_t>(error) : fallback;
}

}  // namespace

void SetCurrentResourceModule(ResourceModule module) { g_current.store(module); }

ResourceModule CurrentResourceModule() { return g_current.load(); }

// Found from an address inside this code rather than GetModuleHandle(NULL),
// so that it names the DLL when the extension is the DLL and the executable
// when a program links the extension statically. The reference count is left
// alone: the module cannot unload while its code runs.
ResourceModule OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

ResourceModule LoadLanguageModule(const std::string& path, std::string* error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr && error != nullptr) {
    *error = "cannot load " + path + ": error " + std::to_string(GetLastError());
  }
  return module;
}

void FreeLanguageModule(ResourceModule module) {
  if (module == nullptr || module == OwnModule()) return;
  ResourceModule expected = module;
  g_current.compare_exchange_strong(expected, nullptr);
  FreeLibrary(static_cast<HMODULE>(module));
}

size_t LoadResourceString(uint32_t id, char* buffer, size_t capacity) {
  // LoadStringA with a zero length would hand back a pointer instead of a copy.
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = '\0';
  const int cap = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
  const int copied = LoadStringA(ModuleToUse(), id, buffer, cap);
  if (copied <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(copied);
}

std::string LoadResourceString(uint32_t id) {
  char buffer[512];
  const size_t length = LoadResourceString(id, buffer, sizeof(buffer));
  return std::string(buffer, length);
}

int32_t LoadCustomResource(ResourceModule module, const char* type, uint32_t id,
                           std::vector<uint8_t>* bytes) {
  bytes->clear();
  if (type == nullptr) return ERROR_INVALID_PARAMETER;
  HMODULE owner = static_cast<HMODULE>(module != nullptr ? module : OwnModule());
  wchar_t path[MAX_PATH + 1] = {};
  SetLastError(0);
  const DWORD length = GetModuleFileNameW(owner, path, MAX_PATH);
  // A path of MAX_PATH characters or more comes back cut: no file to load then.
  if (length == 0 || length >= MAX_PATH) return LastErrorOr(ERROR_INSUFFICIENT_BUFFER);
  DataModule file(LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
  if (file.get() == nullptr) return LastErrorOr(ERROR_FILE_NOT_FOUND);
  HRSRC found = FindResourceA(file.get(), MAKEINTRESOURCEA(id), type);
  if (found == nullptr) return LastErrorOr(kResourceNameNotFound);
  HGLOBAL loaded = LoadResource(file.get(), found);
  const DWORD size = SizeofResource(file.get(), found);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return LastErrorOr(kResourceNameNotFound);
  const uint8_t* first = static_cast<const uint8_t*>(data);
  bytes->assign(first, first + size);
  return 0;
}

}  // namespace platform
}  // namespace wendrel
