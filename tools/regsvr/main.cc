// regsvr [/u] [/s] LIBRARY: loads LIBRARY, calls its DllRegisterServer (or,
// with /u, DllUnregisterServer) and reports the status as regsvr32 does, in
// words on the terminal instead of a message box. /s reports nothing; the
// exit status tells: 0 on S_OK, 1 bad arguments, 3 the library cannot be
// loaded, 4 it lacks the entry point, 5 the entry point returned a failure.

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum ExitStatus {
  kExitOk = 0,
  kExitArguments = 1,
  kExitLoad = 3,
  kExitEntry = 4,
  kExitFailed = 5,
};

using EntryPoint = int32_t (*)();

struct Options {
  bool unregister = false;
  bool silent = false;
  std::string library;
};

// Owner of the dlopen handle.
class Library {
 public:
  explicit Library(void* handle) : handle_(handle) {}
  ~Library() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  void* get() const { return handle_; }

 private:
  void* handle_;
};

void Usage() {
  std::fprintf(stderr,
               "usage: regsvr [/u] [/s] LIBRARY\n"
               "  /u  call DllUnregisterServer instead of DllRegisterServer\n"
               "  /s  silent: report nothing, the exit status tells\n");
}

// Switches begin with / or -, in either case, as regsvr32 takes them.
bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if ((arg[0] == '/' || arg[0] == '-') && arg[1] != '\0' && arg[2] == '\0') {
      switch (arg[1]) {
        case 'u':
        case 'U':
          options->unregister = true;
          continue;
        case 's':
        case 'S':
          options->silent = true;
          continue;
        default:
          std::fprintf(stderr, "regsvr: unknown switch %s\n", arg);
          return false;
      }
    }
    if (!options->library.empty()) {
      std::fprintf(stderr, "regsvr: only one library at a time\n");
      return false;
    }
    options->library = arg;
  }
  if (options->library.empty()) {
    std::fprintf(stderr, "regsvr: no library given\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) {
    Usage();
    return kExitArguments;
  }
  const char* entry_name = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const char* library = options.library.c_str();

  // dlopen looks a bare name up in the library path; a name with a slash is
  // a file, as the user typed it.
  Library handle(dlopen(library, RTLD_NOW | RTLD_LOCAL));
  if (handle.get() == nullptr) {
    const char* reason = dlerror();
    if (!options.silent) {
      std::fprintf(stderr, "The module \"%s\" failed to load.\n%s\n", library,
                   reason != nullptr ? reason : "");
    }
    return kExitLoad;
  }
  dlerror();
  void* symbol = dlsym(handle.get(), entry_name);
  if (symbol == nullptr) {
    if (!options.silent) {
      std::fprintf(stderr,
                   "The module \"%s\" was loaded but the entry-point %s was not found.\n",
                   library, entry_name);
    }
    return kExitEntry;
  }
  EntryPoint entry = nullptr;
  static_assert(sizeof(entry) == sizeof(symbol), "function and object pointers differ");
  std::memcpy(&entry, &symbol, sizeof(entry));
  const int32_t status = entry();
  if (status != 0) {
    if (!options.silent) {
      std::fprintf(stderr, "%s in %s failed. Return code was: 0x%08x\n", entry_name, library,
                   static_cast<unsigned>(status));
    }
    return kExitFailed;
  }
  if (!options.silent) std::printf("%s in %s succeeded.\n", entry_name, library);
  return kExitOk;
}
