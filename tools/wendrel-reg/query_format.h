// The output of `wendrel-reg query`, laid out as reg.exe lays it out:
//
//   <blank line>
//   HKEY_LOCAL_MACHINE\Software\Example
//       (Security)    O:BAD:(A;;KA;;;SY)        only with /sec, when the key has one
//       Name    REG_SZ    text
//   <blank line>
//   HKEY_LOCAL_MACHINE\Software\Example\Sub     without /s: the subkeys' names
//
// With /s every key is a block of its own (its line, its values, a blank
// line), depth first, and no subkey list follows.

#ifndef WENDREL_TOOLS_WENDREL_REG_QUERY_FORMAT_H_
#define WENDREL_TOOLS_WENDREL_REG_QUERY_FORMAT_H_

#include <string>
#include <vector>

#include "tools/wendrel-reg/reg_file_writer.h"

namespace wendrel {
namespace regtool {

struct QueryBlock {
  std::string path;                  // below HKEY_LOCAL_MACHINE, ANSI
  std::string security;              // SDDL; empty when not asked for or none
  std::vector<ExportValue> values;   // those to show
};

// The whole output. `subkeys` (ANSI paths below HKLM) are listed after the
// blocks; pass none with /s.
std::string FormatQuery(const std::vector<QueryBlock>& blocks,
                        const std::vector<std::string>& subkeys);

}  // namespace regtool
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_REG_QUERY_FORMAT_H_
