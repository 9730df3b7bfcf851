#include "tools/wendrel-reg/key_path.h"

#include <algorithm>
#include <cctype>

namespace wendrel {
namespace regtool {
namespace {

unsigned char Lower(char c) {
  return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

constexpr const char* kOtherRoots[] = {
    "HKCU", "HKCR", "HKU", "HKCC", "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT", "HKEY_USERS",
    "HKEY_CURRENT_CONFIG", "HKEY_PERFORMANCE_DATA", "HKEY_DYN_DATA",
};

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool LessIgnoreCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](char x, char y) { return Lower(x) < Lower(y); });
}

bool ParseKeyPath(std::string_view text, std::string* subkey, std::string* error) {
  if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\') {
    *error = "Remote registries are not supported; give a key of this machine.";
    return false;
  }
  const size_t slash = text.find('\\');
  const std::string_view root = text.substr(0, slash);
  std::string_view rest = slash == std::string_view::npos ? std::string_view()
                                                          : text.substr(slash + 1);
  if (!EqualsIgnoreCase(root, "HKLM") && !EqualsIgnoreCase(root, kRootName)) {
    for (const char* other : kOtherRoots) {
      if (EqualsIgnoreCase(root, other)) {
        *error = "Only HKEY_LOCAL_MACHINE (HKLM) is available in this registry store: " +
                 std::string(text);
        return false;
      }
    }
    *error = "Invalid key name: " + std::string(text) +
             " (keys start with HKLM\\ or HKEY_LOCAL_MACHINE\\)";
    return false;
  }
  // One trailing backslash is tolerated (HKLM\Software\), as reg.exe does.
  if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  if (!rest.empty() && (rest.front() == '\\' || rest.back() == '\\' ||
                        rest.find("\\\\") != std::string_view::npos)) {
    *error = "Invalid key name: " + std::string(text) + " (empty key name in the path)";
    return false;
  }
  subkey->assign(rest);
  return true;
}

std::string FullKeyName(const std::string& subkey) {
  std::string name = kRootName;
  if (!subkey.empty()) name += "\\" + subkey;
  return name;
}

}  // namespace regtool
}  // namespace wendrel
