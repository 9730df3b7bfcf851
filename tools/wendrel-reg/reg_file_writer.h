// The .reg file writer of wendrel-reg's export: keys and values in, the bytes
// regedit writes out ("Windows Registry Editor Version 5.00", UTF-16LE with a
// byte-order mark, CR LF line ends). Reading the file back with
// ParseRegFile gives every value byte for byte.

#ifndef WENDREL_TOOLS_WENDREL_REG_REG_FILE_WRITER_H_
#define WENDREL_TOOLS_WENDREL_REG_REG_FILE_WRITER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace wendrel {
namespace regtool {

struct ExportValue {
  std::string name;  // ANSI; "" is the default value
  uint32_t type = 0;
  std::vector<uint8_t> data;  // as the store keeps it
};

struct ExportKey {
  std::string path;  // below HKEY_LOCAL_MACHINE, ANSI
  std::vector<ExportValue> values;
};

// Writes `keys` in order. A REG_SZ that is one terminated string without line
// breaks is written "as text"; other strings as hex(1), hex(2), hex(7) of their
// UTF-16LE form; a 4-byte REG_DWORD as dword:; REG_BINARY as hex:; every
// other value as hex(N): of its bytes. Fails (nothing written) when a name or
// string holds bytes that do not survive the trip through UTF-16 in this
// ANSI code page, or a name holds a line break, since the file could not
// bring them back.
bool WriteRegFile(const std::vector<ExportKey>& keys, std::string* bytes, std::string* error);

}  // namespace regtool
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_REG_REG_FILE_WRITER_H_
