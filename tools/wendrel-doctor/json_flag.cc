#include <iostream>

#include "commands.h"

namespace wendrel {
namespace doctor {

bool ParseJsonFlagOnly(const char* command, const std::vector<std::string>& args, bool* json) {
  *json = false;
  for (const std::string& arg : args) {
    if (arg != "--json") {
      std::cerr << "wendrel-doctor " << command << ": unknown argument \"" << arg << "\"\n"
                << "usage: wendrel-doctor " << command << " [--json]\n";
      return false;
    }
    *json = true;
  }
  return true;
}

}  // namespace doctor
}  // namespace wendrel
