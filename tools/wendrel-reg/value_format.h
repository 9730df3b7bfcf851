// Registry values as text: the type names reg.exe uses, the data as
// `query` shows it, and the data typed after /d as `add` stores it.

#ifndef WENDREL_TOOLS_WENDREL_REG_VALUE_FORMAT_H_
#define WENDREL_TOOLS_WENDREL_REG_VALUE_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wendrel {
namespace regtool {

// "REG_SZ", "REG_DWORD", ...; types without a name show as "REG_0x<hex>".
std::string TypeName(uint32_t type);

// The seven types `add` accepts (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ,
// REG_DWORD, REG_QWORD, REG_BINARY, REG_NONE), in any case.
bool ParseTypeName(std::string_view name, uint32_t* type);

// The data as reg.exe shows it, in UTF-8: strings up to their terminator,
// converted from the ANSI code page; REG_MULTI_SZ items joined with the two
// characters \0; REG_DWORD and REG_QWORD as 0x<lower-case hex>; everything
// else (and a DWORD or QWORD of the wrong size) as upper-case hex digits.
std::string FormatData(uint32_t type, const std::vector<uint8_t>& data);

// One value line of `query`: four spaces, the name ((Default) for ""), four
// spaces, the type, four spaces, the data. `name` is ANSI.
std::string FormatValueLine(const std::string& name, uint32_t type,
                            const std::vector<uint8_t>& data);

// The bytes `add /t type /d data` stores. `data` is UTF-8 from the command
// line. Strings are stored in the ANSI code page with their terminator (text
// the code page cannot hold is refused rather than stored as '?');
// REG_MULTI_SZ items are split at `separator` (reg.exe's default is the two
// characters \0); REG_DWORD and REG_QWORD take decimal or 0x hex; REG_BINARY
// and REG_NONE take hex digits. False, with a reason, for data that does not
// fit the type.
bool ParseCommandLineData(uint32_t type, std::string_view data, std::string_view separator,
                          std::vector<uint8_t>* bytes, std::string* error);

// ANSI bytes (up to `size`) to UTF-8 for the terminal.
std::string AnsiToUtf8(std::string_view ansi);
// UTF-8 from the command line to the ANSI code page the port stores.
std::string Utf8ToAnsi(std::string_view utf8);
// The same, false when the text is not valid UTF-8 or has a character the
// ANSI code page cannot hold (it would be stored as '?').
bool Utf8ToAnsiExactly(std::string_view utf8, std::string* ansi);

}  // namespace regtool
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_REG_VALUE_FORMAT_H_
