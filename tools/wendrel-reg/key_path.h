// Key names as administrators type them: HKLM\... or HKEY_LOCAL_MACHINE\...

#ifndef WENDREL_TOOLS_WENDREL_REG_KEY_PATH_H_
#define WENDREL_TOOLS_WENDREL_REG_KEY_PATH_H_

#include <string>
#include <string_view>

namespace wendrel {
namespace regtool {

constexpr const char kRootName[] = "HKEY_LOCAL_MACHINE";

// Splits `text` into the path below HKEY_LOCAL_MACHINE (without leading or
// trailing backslashes; "" for the root itself). The root may be written
// HKLM or HKEY_LOCAL_MACHINE, in any case. False, with a reason in `error`,
// for another root (the store holds HKEY_LOCAL_MACHINE only), a remote
// machine, or anything else.
bool ParseKeyPath(std::string_view text, std::string* subkey, std::string* error);

// "HKEY_LOCAL_MACHINE" followed by "\<subkey>" when subkey is not empty.
std::string FullKeyName(const std::string& subkey);

// ASCII case-insensitive comparison, as the registry compares names.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool LessIgnoreCase(const std::string& a, const std::string& b);

}  // namespace regtool
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_REG_KEY_PATH_H_
