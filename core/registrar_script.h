// Registration scripts in the syntax of the platform template library's
// registrar, as far as the extension's own script needs it:
//
//   HKLM
//   {
//     Software
//     {
//       'Key With Blanks'
//       {
//         val Name = s 'text'
//         val 'Other' = d '32769'
//         val Bytes = b '0A0B'
//       }
//     }
//   }
//
// Tokens are separated by white space; a name or data with blanks is written
// in single quotes (a quote inside is doubled). The roots are HKLM and
// HKEY_LOCAL_MACHINE, the only hive the registry port has. Value types are s
// (REG_SZ, stored with its terminating zero), d (REG_DWORD, decimal or 0x
// hexadecimal, stored as 4 bytes little-endian) and b (REG_BINARY, pairs of
// hexadecimal digits). A doubled percent sign stands for one; no other
// replacement variable exists. The registrar's markers NoRemove, ForceRemove
// and Delete, a key's default value ("Key = s 'x'") and the other value types
// are refused with an error rather than half understood.

#ifndef WENDREL_CORE_REGISTRAR_SCRIPT_H_
#define WENDREL_CORE_REGISTRAR_SCRIPT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {

struct ScriptValue {
  std::string name;
  uint32_t type = 0;           // platform::RegType
  std::vector<uint8_t> data;   // exactly the bytes to store
};

struct ScriptKey {
  std::string name;            // one path element, never containing a backslash
  std::vector<ScriptValue> values;
  std::vector<ScriptKey> subkeys;
};

// The keys the script names directly below HKEY_LOCAL_MACHINE, in script
// order (several root blocks are joined).
struct RegistrationScript {
  std::vector<ScriptKey> keys;
};

// Parses `text` (8-bit, any line ends). On failure returns false with
// "line N: reason" in *error and leaves *script empty.
bool ParseRegistrationScript(const std::string& text, RegistrationScript* script,
                             std::string* error);

}  // namespace wendrel

#endif  // WENDREL_CORE_REGISTRAR_SCRIPT_H_
