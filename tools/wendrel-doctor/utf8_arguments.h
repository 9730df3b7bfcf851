// The command line's arguments as UTF-8 on both systems: natively they are
// already; on Windows the program's narrow arguments are in the ANSI code
// page, so they are read again from the wide command line.

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_UTF8_ARGUMENTS_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_UTF8_ARGUMENTS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace wendrel {
namespace doctor {

// The arguments from index `first` on (0 is the program), in UTF-8. `narrow`
// holds the same arguments as main received them, from `first` on; natively
// they are returned unchanged.
std::vector<std::string> Utf8Arguments(const std::vector<std::string>& narrow, size_t first);

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_UTF8_ARGUMENTS_H_
