// wendrel-reg: the reg.exe syntax administrators know, over the native
// registry store ($WENDREL_REGISTRY).
//
// We never block waiting for an answer nobody can give: where reg.exe would ask
// (add over an existing value, delete) without /f, the question is asked only
// when standard input is a terminal; otherwise the operation goes ahead as if
// confirmed. export without /y refuses to replace an existing file instead.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "tools/wendrel-reg/key_path.h"
#include "tools/wendrel-reg/query_format.h"
#include "tools/wendrel-reg/reg_file_parser.h"
#include "tools/wendrel-reg/reg_file_writer.h"
#include "tools/wendrel-reg/registry_ops.h"
#include "tools/wendrel-reg/value_format.h"

namespace wendrel {
namespace regtool {
namespace {

using platform::RegKey;

constexpr int kOk = 0;
constexpr int kFailed = 1;

constexpr const char kUsageAdd[] =
    "wendrel-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
    "  Adds a key, or a value to a key (creating the key as needed).\n"
    "  /v NAME  the value to add; /ve the default (unnamed) value\n"
    "  /t TYPE  REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD,\n"
    "           REG_BINARY, REG_NONE\n"
    "  /s SEP   separator of REG_MULTI_SZ items in DATA (default \\0)\n"
    "  /d DATA  the data: text for strings, decimal or 0x hex for REG_DWORD and\n"
    "           REG_QWORD, hex digits for REG_BINARY and REG_NONE\n"
    "  /f       replace an existing value without asking\n";
constexpr const char kUsageQuery[] =
    "wendrel-reg query KEY [/v NAME | /ve] [/s] [/sec]\n"
    "  Shows a key's values and subkeys.\n"
    "  /v NAME  only this value; /ve only the default value\n"
    "  /s       every key below as well\n"
    "  /sec     also the key's security descriptor, as SDDL, on a line\n"
    "           \"    (Security)    <SDDL>\" when the key has one of its own\n";
constexpr const char kUsageDelete[] =
    "wendrel-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
    "  Deletes a key with everything below it, or values of a key.\n"
    "  /v NAME  this value; /ve the default value; /va every value of the key\n"
    "  /f       delete without asking\n";
constexpr const char kUsageImport[] =
    "wendrel-reg import FILE\n"
    "  Carries out a .reg file (REGEDIT4 or Windows Registry Editor Version 5.00,\n"
    "  UTF-16 with a byte-order mark, or 8-bit). An 8-bit REGEDIT4 file is read in\n"
    "  the ANSI code page; an 8-bit version 5 file as UTF-8 when it is valid UTF-8,\n"
    "  else in the ANSI code page. A file with an error changes nothing.\n";
constexpr const char kUsageExport[] =
    "wendrel-reg export KEY FILE [/y]\n"
    "  Writes a key and everything below it to FILE as regedit does (version 5.00,\n"
    "  UTF-16LE). /y replaces an existing FILE; without it an existing FILE is an\n"
    "  error.\n";
constexpr const char kUsageCommon[] =
    "\n"
    "KEY is HKLM\\path or HKEY_LOCAL_MACHINE\\path: the store holds HKEY_LOCAL_MACHINE\n"
    "only. The store is the file $WENDREL_REGISTRY (default\n"
    "/var/lib/wendrel/registry.db); strings are kept in the ANSI code page\n"
    "($WENDREL_ACP, default WINDOWS-1252) and shown in UTF-8.\n"
    "Without /f, add and delete ask for confirmation when standard input is a\n"
    "terminal and go ahead otherwise.\n"
    "Exit status: 0 on success, 1 on failure (a missing key or value included) or\n"
    "bad arguments.\n";

void PrintUsage(std::ostream& out) {
  out << "Usage:\n  " << kUsageAdd << "  " << kUsageQuery << "  " << kUsageDelete << "  "
      << kUsageImport << "  " << kUsageExport << kUsageCommon;
}

int Fail(const std::string& message) {
  std::cerr << "ERROR: " << message << "\n";
  return kFailed;
}

int FailStatus(int32_t status) { return Fail(StatusText(status)); }

int Succeed() {
  std::cout << "The operation completed successfully.\n";
  return kOk;
}

// The parsed command line of one operation: positional arguments, and the
// options with their arguments (flags map to "").
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // lower-case name without '/'

  bool Has(const std::string& name) const { return options.count(name) != 0; }
  const std::string& Get(const std::string& name) const { return options.at(name); }
};

bool IsOption(const std::string& arg) {
  return arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-');
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Splits argv by the options an operation knows: `with_arg` take the next
// argument, `flags` stand alone, a repeated option is bad syntax. Anything
// else is positional, since a file name may start with '/' too; CheckCount
// then tells an unknown option from a misplaced argument. /reg:32 and /reg:64
// are accepted and ignored: the store has one view.
bool ParseArguments(int argc, char** argv, const std::vector<std::string>& with_arg,
                    const std::vector<std::string>& flags, Arguments* args,
                    std::string* error) {
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::string name = IsOption(arg) ? Lower(arg.substr(1)) : std::string();
    if (name == "reg:32" || name == "reg:64") continue;
    const bool takes_arg = std::find(with_arg.begin(), with_arg.end(), name) != with_arg.end();
    const bool flag = std::find(flags.begin(), flags.end(), name) != flags.end();
    if (name.empty() || (!takes_arg && !flag)) {
      args->positional.push_back(arg);
      continue;
    }
    if (args->Has(name)) {
      *error = "Option " + arg + " is given twice.";
      return false;
    }
    if (takes_arg) {
      if (i + 1 >= argc) {
        *error = "Option " + arg + " needs an argument.";
        return false;
      }
      args->options[name] = argv[++i];
    } else {
      args->options[name] = "";
    }
  }
  return true;
}

int SyntaxError(const std::string& detail, const char* usage) {
  std::cerr << "ERROR: Invalid syntax. " << detail << "\nUsage:\n  " << usage;
  return kFailed;
}

// True when there are exactly `count` positional arguments; else the syntax
// error to report: an unknown option when one looks like an option (the
// arguments before `first_file` are keys and never start with '/' or '-').
bool CheckCount(const Arguments& args, size_t count, size_t first_file, const char* what,
                std::string* error) {
  if (args.positional.size() == count) return true;
  for (size_t i = 0; i < args.positional.size(); ++i) {
    if ((i < first_file || i >= count) && IsOption(args.positional[i])) {
      *error = "Unknown option " + args.positional[i] + ".";
      return false;
    }
  }
  *error = std::string("Give ") + what + ".";
  return false;
}

// Asks a Yes/No question when a person can answer it; otherwise the
// operation counts as confirmed (scripts and pipes cannot answer).
bool Confirm(const std::string& question) {
  if (!isatty(STDIN_FILENO)) return true;
  for (;;) {
    std::cout << question << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    answer = Lower(answer);
    if (answer == "y" || answer == "yes") return true;
    if (answer == "n" || answer == "no") return false;
  }
}

int Cancelled() {
  std::cout << "The operation was cancelled by the user.\n";
  return kFailed;
}

bool KeyArgument(const std::string& utf8, std::string* subkey, std::string* error) {
  std::string ansi;
  if (!Utf8ToAnsiExactly(utf8, &ansi)) {
    *error = "The key name " + utf8 + " has characters the ANSI code page " +
             platform::AnsiCodePageName() + " cannot hold.";
    return false;
  }
  return ParseKeyPath(ansi, subkey, error);
}

// The value name chosen by /v NAME or /ve (""), into `name`.
bool ValueNameOption(const Arguments& args, std::string* name, const char* usage, int* rc) {
  if (args.Has("v") && args.Has("ve")) {
    *rc = SyntaxError("/v and /ve exclude each other.", usage);
    return false;
  }
  name->clear();
  if (args.Has("v") && !Utf8ToAnsiExactly(args.Get("v"), name)) {
    *rc = Fail("The value name " + args.Get("v") + " has characters the ANSI code page " +
               platform::AnsiCodePageName() + " cannot hold.");
    return false;
  }
  if (args.Has("v") && name->empty()) {
    *rc = SyntaxError("/v needs a value name; the default value is /ve.", usage);
    return false;
  }
  return true;
}

bool ValueExists(const RegKey& key, const std::string& name) {
  uint32_t size = 0;
  return key.QueryValue(name, nullptr, nullptr, &size) == platform::kRegSuccess;
}

int Add(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, {"v", "t", "d", "s"}, {"ve", "f"}, &args, &error)) {
    return SyntaxError(error, kUsageAdd);
  }
  if (!CheckCount(args, 1, 1, "exactly one KEY", &error)) return SyntaxError(error, kUsageAdd);
  std::string subkey;
  if (!KeyArgument(args.positional[0], &subkey, &error)) return Fail(error);
  int rc = kOk;
  std::string name;
  if (!ValueNameOption(args, &name, kUsageAdd, &rc)) return rc;
  const bool with_value = args.Has("v") || args.Has("ve");
  if (!with_value && (args.Has("t") || args.Has("d") || args.Has("s"))) {
    return SyntaxError("/t, /d and /s need /v NAME or /ve.", kUsageAdd);
  }
  uint32_t type = platform::kRegSz;
  if (args.Has("t") && !ParseTypeName(args.Get("t"), &type)) {
    return Fail("Invalid type " + args.Get("t") +
                ". Use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD, "
                "REG_BINARY or REG_NONE.");
  }
  if (args.Has("s") && type != platform::kRegMultiSz) {
    return SyntaxError("/s SEPARATOR is for REG_MULTI_SZ only.", kUsageAdd);
  }
  std::vector<uint8_t> data;
  if (with_value) {
    std::string text = args.Has("d") ? args.Get("d") : std::string();
    if (!args.Has("d") && (type == platform::kRegDword || type == platform::kRegQword)) {
      text = "0";
    }
    const std::string separator = args.Has("s") ? args.Get("s") : std::string("\\0");
    if (!ParseCommandLineData(type, text, separator, &data, &error)) return Fail(error);
  }

  RegKey key;
  int32_t status = key.Create(RegKey::LocalMachine(), subkey,
                              platform::kKeyWrite | platform::kKeyQueryValue, nullptr, nullptr);
  if (status != platform::kRegSuccess) return FailStatus(status);
  if (with_value) {
    if (!args.Has("f") && ValueExists(key, name) &&
        !Confirm("Value " + (name.empty() ? std::string("(Default)") : AnsiToUtf8(name)) +
                 " exists, overwrite")) {
      return Cancelled();
    }
    status = key.SetValue(name, type, data.data(), static_cast<uint32_t>(data.size()));
    if (status != platform::kRegSuccess) return FailStatus(status);
  }
  return Succeed();
}

// The value `name` of `key` under its stored spelling.
int32_t ReadOneValue(const RegKey& key, const std::string& name, ExportValue* value) {
  std::vector<ExportValue> values;
  const int32_t status = ReadValues(key, &values);
  if (status != platform::kRegSuccess) return status;
  for (ExportValue& candidate : values) {
    if (EqualsIgnoreCase(candidate.name, name)) {
      *value = std::move(candidate);
      return platform::kRegSuccess;
    }
  }
  return platform::kRegFileNotFound;
}

std::string SecurityOf(const RegKey& key) {
  std::vector<uint8_t> descriptor;
  if (key.GetSecurity(&descriptor) != platform::kRegSuccess || descriptor.empty()) return "";
  return platform::SecurityDescriptorToSddl(descriptor);
}

// Fills the query blocks of `path` and, with `recursive`, of the keys below.
// With `only` set, a key shows just that value and keys without it are left
// out (`found` counts the keys that have it).
int32_t CollectQuery(const std::string& path, bool recursive, const std::string* only,
                     bool security, std::vector<QueryBlock>* blocks,
                     std::vector<std::string>* subkeys, int* found) {
  RegKey key;
  int32_t status = key.Open(RegKey::LocalMachine(), path, platform::kKeyRead);
  if (status != platform::kRegSuccess) return status;
  QueryBlock block;
  block.path = path;
  if (security) block.security = SecurityOf(key);
  bool show = true;
  if (only != nullptr) {
    ExportValue value;
    status = ReadOneValue(key, *only, &value);
    if (status == platform::kRegSuccess) {
      block.values.push_back(std::move(value));
      ++*found;
    } else if (status == platform::kRegFileNotFound) {
      show = false;
    } else {
      return status;
    }
  } else {
    status = ReadValues(key, &block.values);
    if (status != platform::kRegSuccess) return status;
  }
  if (show) blocks->push_back(std::move(block));
  std::vector<std::string> names;
  status = ReadSubKeyNames(key, &names);
  if (status != platform::kRegSuccess) return status;
  key.Close();
  for (const std::string& name : names) {
    const std::string child = path.empty() ? name : path + "\\" + name;
    if (!recursive) {
      if (only == nullptr) subkeys->push_back(child);
      continue;
    }
    status = CollectQuery(child, true, only, security, blocks, subkeys, found);
    if (status != platform::kRegSuccess) return status;
  }
  return platform::kRegSuccess;
}

int Query(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, {"v"}, {"ve", "s", "sec"}, &args, &error)) {
    return SyntaxError(error, kUsageQuery);
  }
  if (!CheckCount(args, 1, 1, "exactly one KEY", &error)) return SyntaxError(error, kUsageQuery);
  std::string subkey;
  if (!KeyArgument(args.positional[0], &subkey, &error)) return Fail(error);
  int rc = kOk;
  std::string name;
  if (!ValueNameOption(args, &name, kUsageQuery, &rc)) return rc;
  const bool one_value = args.Has("v") || args.Has("ve");

  std::vector<QueryBlock> blocks;
  std::vector<std::string> subkeys;
  int found = 0;
  const int32_t status = CollectQuery(subkey, args.Has("s"), one_value ? &name : nullptr,
                                      args.Has("sec"), &blocks, &subkeys, &found);
  if (status != platform::kRegSuccess) return FailStatus(status);
  if (one_value && found == 0) return FailStatus(platform::kRegFileNotFound);
  std::cout << FormatQuery(blocks, subkeys);
  return kOk;
}

int Delete(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, {"v"}, {"ve", "va", "f"}, &args, &error)) {
    return SyntaxError(error, kUsageDelete);
  }
  if (!CheckCount(args, 1, 1, "exactly one KEY", &error)) {
    return SyntaxError(error, kUsageDelete);
  }
  std::string subkey;
  if (!KeyArgument(args.positional[0], &subkey, &error)) return Fail(error);
  int rc = kOk;
  std::string name;
  if (!ValueNameOption(args, &name, kUsageDelete, &rc)) return rc;
  const bool one_value = args.Has("v") || args.Has("ve");
  if (one_value && args.Has("va")) {
    return SyntaxError("/va excludes /v and /ve.", kUsageDelete);
  }
  const bool force = args.Has("f");
  const std::string shown = AnsiToUtf8(FullKeyName(subkey));

  RegKey key;
  int32_t status = key.Open(RegKey::LocalMachine(), subkey,
                            platform::kKeyRead | platform::kKeySetValue);
  if (status != platform::kRegSuccess) return FailStatus(status);
  if (one_value) {
    if (!ValueExists(key, name)) return FailStatus(platform::kRegFileNotFound);
    if (!force &&
        !Confirm("Delete the registry value " +
                 (name.empty() ? std::string("(Default)") : AnsiToUtf8(name)))) {
      return Cancelled();
    }
    status = key.DeleteValue(name);
    return status == platform::kRegSuccess ? Succeed() : FailStatus(status);
  }
  if (args.Has("va")) {
    if (!force && !Confirm("Delete all values under the registry key " + shown)) {
      return Cancelled();
    }
    std::vector<ExportValue> values;
    status = ReadValues(key, &values);
    for (size_t i = 0; status == platform::kRegSuccess && i < values.size(); ++i) {
      status = key.DeleteValue(values[i].name);
    }
    return status == platform::kRegSuccess ? Succeed() : FailStatus(status);
  }
  key.Close();
  if (subkey.empty()) return Fail("HKEY_LOCAL_MACHINE itself cannot be deleted.");
  if (!force && !Confirm("Permanently delete the registry key " + shown)) return Cancelled();
  status = DeleteKeyTree(subkey);
  return status == platform::kRegSuccess ? Succeed() : FailStatus(status);
}

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int Import(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, {}, {}, &args, &error)) return SyntaxError(error, kUsageImport);
  if (!CheckCount(args, 1, 0, "exactly one FILE", &error)) {
    return SyntaxError(error, kUsageImport);
  }
  const std::string& file = args.positional[0];
  std::string bytes;
  if (!ReadFile(file, &bytes)) return Fail("Cannot read the file " + file + ".");
  RegFileParseResult parsed;
  if (!ParseRegFile(bytes, &parsed)) {
    const std::string where =
        parsed.error_line > 0 ? file + ":" + std::to_string(parsed.error_line) : file;
    return Fail(where + ": " + parsed.error + " (nothing was imported)");
  }
  for (const RegFileOperation& op : parsed.operations) {
    const int32_t status = ApplyOperation(op);
    if (status != platform::kRegSuccess) {
      return Fail(file + ":" + std::to_string(op.line) + ": " + StatusText(status) +
                  " (the lines before it were imported)");
    }
  }
  return Succeed();
}

int Export(int argc, char** argv) {
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, {}, {"y"}, &args, &error)) {
    return SyntaxError(error, kUsageExport);
  }
  if (!CheckCount(args, 2, 1, "a KEY and a FILE", &error)) {
    return SyntaxError(error, kUsageExport);
  }
  std::string subkey;
  if (!KeyArgument(args.positional[0], &subkey, &error)) return Fail(error);
  const std::string& file = args.positional[1];
  if (!args.Has("y") && std::ifstream(file).good()) {
    return Fail("The file " + file + " exists; add /y to replace it.");
  }
  std::vector<ExportKey> keys;
  const int32_t status = ReadKeyTree(subkey, true, &keys);
  if (status != platform::kRegSuccess) return FailStatus(status);
  std::string bytes;
  if (!WriteRegFile(keys, &bytes, &error)) return Fail(error);

  // Write beside the target and rename, so a failed write leaves any
  // existing file as it was.
  const std::string temp = file + ".tmp" + std::to_string(platform::CurrentProcessId());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      platform::RemoveFile(temp);
      return Fail("Cannot write the file " + file + ".");
    }
  }
  if (std::rename(temp.c_str(), file.c_str()) != 0) {
    platform::RemoveFile(temp);
    return Fail("Cannot write the file " + file + ".");
  }
  return Succeed();
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "ERROR: Invalid syntax.\n";
    PrintUsage(std::cerr);
    return kFailed;
  }
  const std::string operation = Lower(argv[1]);
  if (operation == "/?" || operation == "-?" || operation == "--help" || operation == "-h") {
    PrintUsage(std::cout);
    return kOk;
  }
  struct Entry {
    const char* name;
    int (*run)(int, char**);
    const char* usage;
  };
  static const Entry kOperations[] = {
      {"add", Add, kUsageAdd},          {"query", Query, kUsageQuery},
      {"delete", Delete, kUsageDelete}, {"import", Import, kUsageImport},
      {"export", Export, kUsageExport},
  };
  for (const Entry& entry : kOperations) {
    if (operation != entry.name) continue;
    for (int i = 2; i < argc; ++i) {
      const std::string arg = argv[i];
      if (arg == "/?" || arg == "-?" || arg == "--help") {
        std::cout << "Usage:\n  " << entry.usage << kUsageCommon;
        return kOk;
      }
    }
    return entry.run(argc, argv);
  }
  std::cerr << "ERROR: Invalid syntax. Unknown operation " << argv[1] << ".\n";
  PrintUsage(std::cerr);
  return kFailed;
}

}  // namespace
}  // namespace regtool
}  // namespace wendrel

int main(int argc, char** argv) { return wendrel::regtool::Main(argc, argv); }
