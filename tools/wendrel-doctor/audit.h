// The configuration an administrator should look at: every finding with the
// registry key and value it concerns and the reason, gathered once so that
// the text and JSON renderings show the same thing. Texts are as read: in the
// ANSI code page.

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_AUDIT_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_AUDIT_H_

#include <string>
#include <vector>

namespace wendrel {
namespace doctor {

struct Finding {
  const char* code;   // "password-readable", "list-gap", ...
  std::string key;    // "HKLM\\Software\\..."
  bool has_value;     // false when the finding concerns the key as a whole
  std::string value;  // the value's name
  std::string message;
};

std::vector<Finding> AuditConfiguration();

// Whether ordinary users can read the values of the server settings key,
// which hold the proxy passwords; when they can, `why` says through what.
// Windows: the key's access list; natively: the registry store file's mode.
bool ServerSettingsReadableByUsers(std::string* why);

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_AUDIT_H_
