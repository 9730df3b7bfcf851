// Registry texts are in the ANSI code page; the doctor prints UTF-8.

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_TEXT_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_TEXT_H_

#include <string>

namespace wendrel {
namespace doctor {

std::string AnsiToUtf8(const std::string& ansi);

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_TEXT_H_
