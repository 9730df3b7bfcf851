#include "tools/wendrel-reg/query_format.h"

#include "tools/wendrel-reg/key_path.h"
#include "tools/wendrel-reg/value_format.h"

namespace wendrel {
namespace regtool {

std::string FormatQuery(const std::vector<QueryBlock>& blocks,
                        const std::vector<std::string>& subkeys) {
  std::string out = "\n";
  for (const QueryBlock& block : blocks) {
    out += AnsiToUtf8(FullKeyName(block.path)) + "\n";
    if (!block.security.empty()) out += "    (Security)    " + block.security + "\n";
    for (const ExportValue& value : block.values) {
      out += FormatValueLine(value.name, value.type, value.data) + "\n";
    }
    out += "\n";
  }
  for (const std::string& subkey : subkeys) out += AnsiToUtf8(FullKeyName(subkey)) + "\n";
  return out;
}

}  // namespace regtool
}  // namespace wendrel
