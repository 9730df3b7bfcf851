// wendrel-reg's .reg import over any bytes. The first byte picks the file's
// form (as is, widened to UTF-16 either way with its mark, or raw UTF-16LE
// after the mark) and a header line, so that mutations spend their time in
// the grammar. A file that parses is imported into a fresh store, exported,
// and the export must parse back to exactly the stored values, byte for byte.

#include <fuzzer/FuzzedDataProvider.h>

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

// Imports of more operations than this are parsed but not carried out: they
// only make each run slower.
constexpr size_t kMaxAppliedOperations = 64;

std::string Widen(const std::string& text, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : text) {
    if (big_endian) out += '\0';
    out += c;
    if (!big_endian) out += '\0';
  }
  return out;
}

std::string MakeFile(uint8_t mode, const std::string& rest) {
  static const char* const kHeaders[] = {"", "Windows Registry Editor Version 5.00\r\n\r\n",
                                         "REGEDIT4\r\n\r\n", ""};
  const std::string text = kHeaders[(mode >> 2) & 3] + rest;
  switch (mode & 3) {
    case 1: return Widen(text, false);
    case 2: return Widen(text, true);
    case 3: return std::string("\xFF\xFE", 2) + text;
    default: return text;
  }
}

void CheckRoundTrip(const regtool::RegFileParseResult& parsed) {
  fuzzing::FuzzStore& store = fuzzing::SharedStore();
  store.Reset();
  for (const RegFileOperation& op : parsed.operations) {
    if (regtool::ApplyOperation(op) != platform::kRegSuccess) break;  // as import stops
  }
  std::vector<regtool::ExportKey> keys;
  if (regtool::ReadKeyTree("", true, &keys) != platform::kRegSuccess) return;
  std::string exported, error;
  if (!regtool::WriteRegFile(keys, &exported, &error)) {
    Check(!error.empty(), "a refused export says why");
    return;
  }
  regtool::RegFileParseResult again;
  Check(regtool::ParseRegFile(exported, &again), "an export parses: " + again.error);
  std::vector<const RegFileOperation*> values;
  for (const RegFileOperation& op : again.operations) {
    Check(op.kind == RegFileOperation::Kind::kCreateKey ||
              op.kind == RegFileOperation::Kind::kSetValue,
          "an export only creates keys and sets values");
    if (op.kind == RegFileOperation::Kind::kSetValue) values.push_back(&op);
  }
  size_t next = 0;
  for (const regtool::ExportKey& key : keys) {
    for (const regtool::ExportValue& value : key.values) {
      Check(next < values.size(), "every exported value comes back");
      const RegFileOperation& op = *values[next++];
      Check(op.key == key.path && op.name == value.name, "a value comes back under its name");
      Check(op.type == value.type, "a value comes back with its type");
      Check(op.data == value.data, "a value comes back byte for byte");
    }
  }
  Check(next == values.size(), "no value comes back that was not exported");
}

}  // namespace
}  // namespace wendrel

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  using namespace wendrel;
  if (size == 0) return 0;
  const std::string file =
      MakeFile(bytes[0], std::string(reinterpret_cast<const char*>(bytes) + 1, size - 1));
  regtool::RegFileParseResult parsed;
  if (!regtool::ParseRegFile(file, &parsed)) {
    Check(!parsed.error.empty(), "a refused file says why");
    return 0;
  }
  Check(parsed.error.empty(), "an accepted file has no error");
  if (parsed.operations.size() <= kMaxAppliedOperations) CheckRoundTrip(parsed);
  return 0;
}
