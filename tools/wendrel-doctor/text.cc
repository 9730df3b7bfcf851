#include "text.h"

#include "platform/codepage.h"

namespace wendrel {
namespace doctor {

std::string AnsiToUtf8(const std::string& ansi) {
  return platform::Utf16ToUtf8(platform::AnsiToUtf16(ansi));
}

}  // namespace doctor
}  // namespace wendrel
