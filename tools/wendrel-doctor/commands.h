// The doctor's subcommands. Each takes the arguments after its name and
// returns the exit status: 0 on success, 2 for bad arguments (after printing
// its usage to standard error).

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_COMMANDS_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_COMMANDS_H_

#include <string>
#include <vector>

namespace wendrel {
namespace doctor {

constexpr int kExitOk = 0;
constexpr int kExitBadArguments = 2;

struct Command {
  const char* name;
  const char* synopsis;  // the arguments, for the usage text
  const char* summary;
  int (*run)(const std::vector<std::string>& args);
};

// The arguments of a command that takes only [--json]: sets *json, or prints
// what is wrong with the command's usage and returns false.
bool ParseJsonFlagOnly(const char* command, const std::vector<std::string>& args, bool* json);

// wendrel-doctor config [--json]
int RunConfigCommand(const std::vector<std::string>& args);

// wendrel-doctor resolve NAME [TREE] [--answer yes|no] [--json]
int RunResolveCommand(const std::vector<std::string>& args);

// wendrel-doctor audit [--json]: exit 0 without findings, 1 with some.
int RunAuditCommand(const std::vector<std::string>& args);

// wendrel-doctor servers [--json]
int RunServersCommand(const std::vector<std::string>& args);

// wendrel-doctor version [--json]: exit 1 when no installed extension is found.
int RunVersionCommand(const std::vector<std::string>& args);

// Prints the usage of every command to standard error.
void PrintUsage();

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_COMMANDS_H_
