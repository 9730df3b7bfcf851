// What wendrel-reg does to the registry, through the registry port: reading
// keys for query and export, deleting a key with everything below it, and
// carrying out the operations of a .reg file.

#ifndef WENDREL_TOOLS_WENDREL_REG_REGISTRY_OPS_H_
#define WENDREL_TOOLS_WENDREL_REG_REGISTRY_OPS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "tools/wendrel-reg/reg_file_parser.h"
#include "tools/wendrel-reg/reg_file_writer.h"

namespace wendrel {
namespace regtool {

// The values of an open key, in the store's order.
int32_t ReadValues(const platform::RegKey& key, std::vector<ExportValue>* values);

// The names of the subkeys of an open key, sorted as the registry sorts them
// (case-insensitively).
int32_t ReadSubKeyNames(const platform::RegKey& key, std::vector<std::string>* names);

// The key at `path` (below HKLM) with its values, then, when `recursive`,
// every key below it in the same way, depth first.
int32_t ReadKeyTree(const std::string& path, bool recursive, std::vector<ExportKey>* keys);

// Deletes the key at `path` (not the root) and everything below it.
int32_t DeleteKeyTree(const std::string& path);

// Carries out one operation of a .reg file. Deleting what is already missing
// succeeds, as regedit does.
int32_t ApplyOperation(const RegFileOperation& op);

// A sentence for a port status, in reg.exe's words where it has them.
std::string StatusText(int32_t status);

}  // namespace regtool
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_REG_REGISTRY_OPS_H_
