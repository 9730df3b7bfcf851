// The .reg file reader of wendrel-reg: the bytes of a file in, the list of
// registry operations it asks for out. Nothing here touches the registry, so
// a file with an error anywhere changes nothing.
//
// Both formats regedit knows are read:
//   REGEDIT4                              8-bit text in the ANSI code page;
//                                         hex(1), hex(2), hex(7) data are ANSI bytes
//   Windows Registry Editor Version 5.00  UTF-16 text; hex(1), hex(2), hex(7)
//                                         data are UTF-16LE
// A file that starts with a UTF-16 byte-order mark (either order) is UTF-16,
// one that starts with the UTF-8 mark is UTF-8. Other files are 8-bit: a
// REGEDIT4 file is taken as the ANSI code page; a version 5 file is taken as
// UTF-8 when it is valid UTF-8 (hand-written files usually are, and plain
// ASCII is both) and as the ANSI code page otherwise.
//
// Grammar, line by line (lines end in CR LF, LF or CR):
//   blank lines, and lines whose first non-blank character is ';', are skipped
//   [KEY]          creates the key; following values go into it
//   [-KEY]         deletes the key with everything below it
//   "name"=...     a value; @=... is the default value; in names and
//                  strings \\ stands for \ and \" for "
//   ="string"      REG_SZ
//   =dword:XXXXXXXX            REG_DWORD, 1 to 8 hex digits
//   =hex:01,02,...             REG_BINARY
//   =hex(N):01,02,...          type N (hex), e.g. hex(0) REG_NONE, hex(2)
//                              REG_EXPAND_SZ, hex(7) REG_MULTI_SZ, hex(b) REG_QWORD
//   =-                         deletes the value
// Hex data may go on over several lines: a line that ends in a backslash
// continues on the next one (whose leading blanks are ignored).
// KEY is HKEY_LOCAL_MACHINE\... or HKLM\...; other roots are an error.
//
// Strings are handed over as the registry port stores them: in the ANSI code
// page with their terminating zero (REG_MULTI_SZ with its final extra zero as
// the bytes of the file say).

#ifndef WENDREL_TOOLS_WENDREL_REG_REG_FILE_PARSER_H_
#define WENDREL_TOOLS_WENDREL_REG_REG_FILE_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wendrel {
namespace regtool {

enum class RegFileFormat { kRegedit4, kVersion5 };

struct RegFileOperation {
  enum class Kind { kCreateKey, kDeleteKey, kSetValue, kDeleteValue };
  Kind kind = Kind::kCreateKey;
  std::string key;            // below HKEY_LOCAL_MACHINE, ANSI; "" is the root itself
  std::string name;           // value name, ANSI; "" is the default value
  uint32_t type = 0;          // kSetValue: REG_* type
  std::vector<uint8_t> data;  // kSetValue: the bytes to store
  int line = 0;               // where the statement starts (1-based)
};

struct RegFileParseResult {
  RegFileFormat format = RegFileFormat::kVersion5;
  std::vector<RegFileOperation> operations;
  int error_line = 0;  // 0 when the error is not about one line
  std::string error;   // empty on success
};

// Parses a whole file. Returns false, with error and error_line set, when the
// file is not a valid .reg file; operations are then incomplete and must not
// be applied.
bool ParseRegFile(std::string_view bytes, RegFileParseResult* result);

// Text decoding, exposed for tests: the file's text as UTF-16 code units, and
// whether it is a version 5 file. False when the file has no known header.
bool DecodeRegFileText(std::string_view bytes, std::u16string* text, RegFileFormat* format,
                       std::string* error);

}  // namespace regtool
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_REG_REG_FILE_PARSER_H_
