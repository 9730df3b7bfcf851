// wendrel-reg's .reg import over any bytes, 8-bit and UTF-16. The first byte
// picks how the rest becomes a file: as it is, widened to UTF-16 (little- or
// big-endian, with the byte-order mark), or as raw UTF-16LE units after the
// mark; optionally after a REGEDIT4 or version 5 header, so that mutations
// spend their time in the grammar. A file that parses is imported into a
// fresh store, exported, and the export must parse back to exactly the
// values the store holds, byte for byte (the writer's promise).

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/support/fuzz_store.h"
#include "platform/registry.h"
#include "tools/wendrel-reg/reg_file_parser.h"
#include "tools/wendrel-reg/reg_file_writer.h"
#include "tools/wendrel-reg/registry_ops.h"

namespace wendrel {
namespace {

using fuzzing::Check;
using regtool::RegFileOperation;

// Longer imports are parsed but not carried out: they only make runs slower.
constexpr size_t kMaxAppliedOperations = 64;

std::string MakeFile(uint8_t mode, const std::string& rest) {
  static const char* const kHeaders[] = {"", "Windows Registry Editor Version 5.00\r\n\r\n",
                                         "REGEDIT4\r\n\r\n", ""};
  const std::string text = kHeaders[(mode >> 2) & 3] + rest;
  if ((mode & 3) == 0) return text;
  if ((mode & 3) == 3) return "\xFF\xFE" + text;
  const bool big_endian = (mode & 3) == 2;
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
  return out;
}

void CheckRoundTrip(const regtool::RegFileParseResult& parsed) {
  fuzzing::SharedStore().Reset();
  for (const RegFileOperation& op : parsed.operations) {
    if (regtool::ApplyOperation(op) != platform::kRegSuccess) break;  // as import stops
  }
  std::vector<regtool::ExportKey> keys;
  if (regtool::ReadKeyTree("", true, &keys) != platform::kRegSuccess) return;
  std::string exported, error;
  if (!regtool::WriteRegFile(keys, &exported, &error)) return Check(!error.empty(), "why not");
  regtool::RegFileParseResult again;
  Check(regtool::ParseRegFile(exported, &again), "an export parses: " + again.error);
  std::vector<RegFileOperation> expected, values;
  for (const regtool::ExportKey& key : keys) {
    for (const regtool::ExportValue& value : key.values) {
      expected.push_back({RegFileOperation::Kind::kSetValue, key.path, value.name, value.type,
                          value.data, 0});
    }
  }
  for (RegFileOperation op : again.operations) {
    Check(op.kind == RegFileOperation::Kind::kCreateKey ||
              op.kind == RegFileOperation::Kind::kSetValue,
          "an export only creates keys and sets values");
    if (op.kind != RegFileOperation::Kind::kSetValue) continue;
    op.line = 0;
    values.push_back(op);
  }
  Check(values.size() == expected.size(), "every exported value comes back, and only those");
  for (size_t i = 0; i < values.size(); ++i) {
    Check(values[i].key == expected[i].key && values[i].name == expected[i].name &&
              values[i].type == expected[i].type && values[i].data == expected[i].data,
          "a value comes back under its name with its type, byte for byte");
  }
}

}  // namespace
}  // namespace wendrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  if (size == 0) return 0;
  const std::string file =
      MakeFile(bytes[0], std::string(reinterpret_cast<const char*>(bytes) + 1, size - 1));
  regtool::RegFileParseResult parsed;
  const bool ok = regtool::ParseRegFile(file, &parsed);
  fuzzing::Check(ok == parsed.error.empty(), "a refused file says why, an accepted one does not");
  if (ok && parsed.operations.size() <= kMaxAppliedOperations) CheckRoundTrip(parsed);
  return 0;
}
