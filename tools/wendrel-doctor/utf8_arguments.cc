#include "utf8_arguments.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "platform/codepage.h"
#endif

namespace wendrel {
namespace doctor {

#ifdef _WIN32

namespace {

struct LocalFreer {
  void operator()(LPWSTR* list) const { LocalFree(list); }
};

}  // namespace

std::vector<std::string> Utf8Arguments(const std::vector<std::string>& narrow, size_t first) {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreer> wide(CommandLineToArgvW(GetCommandLineW(), &count));
  // Should the wide command line disagree with what main got, main's
  // arguments are the ones that were parsed: keep them.
  if (wide == nullptr || count < 0 || static_cast<size_t>(count) != first + narrow.size()) {
    return narrow;
  }
  std::vector<std::string> out;
  for (int i = static_cast<int>(first); i < count; ++i) {
    const wchar_t* arg = wide.get()[i];
    std::u16string utf16;
    for (const wchar_t* p = arg; *p != L'\0'; ++p) utf16.push_back(static_cast<char16_t>(*p));
    out.push_back(platform::Utf16ToUtf8(utf16));
  }
  return out;
}

#else

std::vector<std::string> Utf8Arguments(const std::vector<std::string>& narrow, size_t) {
  return narrow;
}

#endif

}  // namespace doctor
}  // namespace wendrel
