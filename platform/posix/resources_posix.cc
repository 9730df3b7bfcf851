// The resources port on POSIX systems. The extension's own string table is
// compiled in from resources/string_table.def, the same list windres compiles
// for Windows; a language module is a text file of the same ids (format in
// platform/resources.h), parsed once when it is loaded. Custom resources (the
// registration script) are compiled in from the files windres reads, as byte
// arrays generated at configure time.

#include <dlfcn.h>
#include <strings.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/resources.h"

namespace wendrel {
namespace platform {
namespace {

struct TableEntry {
  uint32_t id;
  const char* text;  // UTF-8 (the table is plain ASCII today)
};

constexpr TableEntry kOwnTable[] = {
#define WENDREL_STRING(id, text) {id, text},
#include "resources/string_table.def"
#undef WENDREL_STRING
};

struct CustomResource {
  const char* type;
  uint32_t id;
  const unsigned char* bytes;
  size_t size;
};

#include "resources/custom_resources.inc"

// A loaded language module: its texts, already in the ANSI code page.
struct LanguageModule {
  std::map<uint32_t, std::string> texts;
};

std::atomic<ResourceModule> g_current{nullptr};

// A language module larger than this is not a string table.
constexpr std::streamoff kMaxModuleBytes = 1 << 20;

bool IsValidUtf8(const std::string& s) { return Utf16ToUtf8(Utf8ToUtf16(s)) == s; }

// Undoes the \n, \t and \\ escapes; false on any other backslash.
bool Unescape(const std::string& in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out->push_back(in[i]);
      continue;
    }
    if (++i == in.size()) return false;
    switch (in[i]) {
      case 'n': out->push_back('\n'); break;
      case 't': out->push_back('\t'); break;
      case '\\': out->push_back('\\'); break;
      default: return false;
    }
  }
  return true;
}

bool ParseModule(std::istream& in, LanguageModule* module, std::string* error) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || tab > 5) {
      *error = where + "expected a decimal id, a tab and the text";
      return false;
    }
    uint32_t id = 0;
    for (size_t i = 0; i < tab; ++i) {
      if (line[i] < '0' || line[i] > '9') {
        *error = where + "the id is not a decimal number";
        return false;
      }
      id = id * 10 + static_cast<uint32_t>(line[i] - '0');
    }
    if (id > 0xFFFF) {
      *error = where + "the id is larger than 65535";
      return false;
    }
    std::string text;
    if (!Unescape(line.substr(tab + 1), &text)) {
      *error = where + "a backslash must be followed by n, t or a backslash";
      return false;
    }
    if (!IsValidUtf8(text)) {
      *error = where + "the text is not UTF-8";
      return false;
    }
    if (!module->texts.emplace(id, Utf16ToAnsi(Utf8ToUtf16(text))).second) {
      *error = where + "id " + std::to_string(id) + " appears twice";
      return false;
    }
  }
  return true;
}

// The ANSI text of `id` in the current module; false when it has none.
bool Lookup(uint32_t id, std::string* text) {
  const ResourceModule current = g_current.load();
  if (current == nullptr || current == OwnModule()) {
    for (const TableEntry& entry : kOwnTable) {
      if (entry.id == id) {
        *text = Utf16ToAnsi(Utf8ToUtf16(entry.text));
        return true;
      }
    }
    return false;
  }
  const auto& texts = static_cast<const LanguageModule*>(current)->texts;
  const auto it = texts.find(id);
  if (it == texts.end()) return false;
  *text = it->second;
  return true;
}

}  // namespace

void SetCurrentResourceModule(ResourceModule module) { g_current.store(module); }

ResourceModule CurrentResourceModule() { return g_current.load(); }

// The handle of the shared object (or executable) this code is part of. The
// reference dlopen adds is dropped again at once: the object cannot go away
// while its own code runs, and callers must not have to release anything.
ResourceModule OwnModule() {
  static const ResourceModule own = [] {
    Dl_info info;
    void* handle = nullptr;
    if (dladdr(reinterpret_cast<void*>(&OwnModule), &info) != 0 && info.dli_fname != nullptr) {
      handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    }
    if (handle == nullptr) handle = dlopen(nullptr, RTLD_LAZY);
    if (handle != nullptr) dlclose(handle);
    return static_cast<ResourceModule>(handle);
  }();
  return own;
}

ResourceModule LoadLanguageModule(const std::string& path, std::string* error) {
  std::string reason;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    reason = "cannot open " + path + ": " + std::strerror(errno);
  } else {
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg();
    file.seekg(0, std::ios::beg);
    if (size < 0 || size > kMaxModuleBytes) {
      reason = path + ": not a language module (larger than 1 MiB)";
    } else {
      auto module = std::make_unique<LanguageModule>();
      if (ParseModule(file, module.get(), &reason)) return module.release();
      reason = path + ": " + reason;
    }
  }
  if (error != nullptr) *error = reason;
  return nullptr;
}

void FreeLanguageModule(ResourceModule module) {
  if (module == nullptr || module == OwnModule()) return;
  ResourceModule expected = module;
  g_current.compare_exchange_strong(expected, nullptr);
  delete static_cast<LanguageModule*>(module);
}

size_t LoadResourceString(uint32_t id, char* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  buffer[0] = '\0';
  std::string text;
  if (!Lookup(id, &text)) return 0;
  // Cut to the buffer, never through the middle of a double-byte character.
  size_t length = 0;
  while (length < text.size()) {
    const size_t step = AnsiCharLength(text.c_str() + length);
    if (step == 0 || length + step > capacity - 1) break;
    length += step;
  }
  std::memcpy(buffer, text.data(), length);
  buffer[length] = '\0';
  return length;
}

std::string LoadResourceString(uint32_t id) {
  char buffer[512];
  const size_t length = LoadResourceString(id, buffer, sizeof(buffer));
  return std::string(buffer, length);
}

int32_t LoadCustomResource(ResourceModule module, const char* type, uint32_t id,
                           std::vector<uint8_t>* bytes) {
  bytes->clear();
  if (type == nullptr) return 87;  // ERROR_INVALID_PARAMETER, as FindResourceA gives
  // A language module is a string table only.
  if (module != nullptr && module != OwnModule()) return kResourceTypeNotFound;
  bool type_found = false;
  for (const CustomResource& resource : kCustomResources) {
    // Resource type names compare without case, as on Windows.
    if (strcasecmp(resource.type, type) != 0) continue;
    type_found = true;
    if (resource.id != id) continue;
    bytes->assign(resource.bytes, resource.bytes + resource.size);
    return 0;
  }
  return type_found ? kResourceNameNotFound : kResourceTypeNotFound;
}

}  // namespace platform
}  // namespace wendrel
