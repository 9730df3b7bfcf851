// What the wendrel-reg tests share: byte strings, and .reg operations
// compared and printed whole.

#ifndef WENDREL_TESTS_TOOLS_WENDREL_REG_REG_TEST_SUPPORT_H_
#define WENDREL_TESTS_TOOLS_WENDREL_REG_REG_TEST_SUPPORT_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "tools/wendrel-reg/reg_file_parser.h"

namespace wendrel {
namespace regtool {

using Bytes = std::vector<uint8_t>;
using Kind = RegFileOperation::Kind;

inline Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

inline bool operator==(const RegFileOperation& a, const RegFileOperation& b) {
  return std::tie(a.kind, a.key, a.name, a.type, a.data, a.line) ==
         std::tie(b.kind, b.key, b.name, b.type, b.data, b.line);
}

inline void PrintTo(const RegFileOperation& op, std::ostream* out) {
  *out << "{kind " << static_cast<int>(op.kind) << ", \"" << op.key << "\", \"" << op.name
       << "\", type " << op.type << ", " << op.data.size() << " bytes:";
  for (uint8_t byte : op.data) *out << ' ' << static_cast<int>(byte);
  *out << ", line " << op.line << "}";
}

}  // namespace regtool
}  // namespace wendrel

#endif  // WENDREL_TESTS_TOOLS_WENDREL_REG_REG_TEST_SUPPORT_H_
