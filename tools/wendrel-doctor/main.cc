// wendrel-doctor: what the extension sees and finds, for administrators.
//
//   wendrel-doctor config [--json]
//   wendrel-doctor resolve NAME [TREE] [--answer yes|no] [--json]
//   wendrel-doctor audit [--json]
//   wendrel-doctor servers [--json]
//   wendrel-doctor version [--json]

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"

namespace wendrel {
namespace doctor {
namespace {

// One row per subcommand; a new subcommand is a new row and a file of its own.
const Command kCommands[] = {
    {"config", "[--json]", "the effective configuration, through the extension's readers",
     RunConfigCommand},
    {"resolve", "NAME [TREE] [--answer yes|no] [--json]",
     "runs the user search for NAME and shows the users found or the failure", RunResolveCommand},
    {"audit", "[--json]", "the configuration an administrator should look at, with the reasons",
     RunAuditCommand},
    {"servers", "[--json]",
     "what the extension meets at each configured server, and whether it can use it",
     RunServersCommand},
    {"version", "[--json]",
     "the installed extension's version, where it is, and who signed it", RunVersionCommand},
};

}  // namespace

void PrintUsage() {
  std::cerr << "usage:\n";
  for (const Command& command : kCommands) {
    std::cerr << "  wendrel-doctor " << command.name << ' ' << command.synopsis << "\n      "
              << command.summary << '\n';
  }
}

}  // namespace doctor
}  // namespace wendrel

int main(int argc, char** argv) {
  using wendrel::doctor::Command;
  if (argc >= 2) {
    for (const Command& command : wendrel::doctor::kCommands) {
      if (std::strcmp(argv[1], command.name) == 0) {
        int status = command.run(std::vector<std::string>(argv + 2, argv + argc));
        std::cout.flush();
        return std::cout ? status : 1;
      }
    }
    std::cerr << "wendrel-doctor: unknown command \"" << argv[1] << "\"\n";
  }
  wendrel::doctor::PrintUsage();
  return wendrel::doctor::kExitBadArguments;
}
