// The ANSI side of the code-page port on Windows: the system's ANSI code page
// (CP_ACP) through MultiByteToWideChar and WideCharToMultiByte. UTF-8 is
// converted by the portable code in platform/codepage.cc, so that both builds
// replace bad input identically.

#include <windows.h>

#include <climits>
#include <string>

#include "platform/codepage.h"

namespace wendrel {
namespace platform {
namespace {

// The Win32 calls count in int; the extension's texts are far shorter, so
// anything beyond that is cut rather than mis-sized.
int ClampToInt(size_t n) { return n > INT_MAX ? INT_MAX : static_cast<int>(n); }

}  // namespace

std::u16string AnsiToUtf16(std::string_view ansi) {
  if (ansi.empty()) return std::u16string();
  const int in_len = ClampToInt(ansi.size());
  const int needed = MultiByteToWideChar(CP_ACP, 0, ansi.data(), in_len, nullptr, 0);
  if (needed <= 0) return std::u16string();
  std::u16string result(static_cast<size_t>(needed), u'\0');
  const int written = MultiByteToWideChar(CP_ACP, 0, ansi.data(), in_len,
                                          reinterpret_cast<wchar_t*>(&result[0]), needed);
  result.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return result;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  if (utf16.empty()) return std::string();
  // A system whose ANSI code page is UTF-8 represents everything; the
  // default-character arguments are invalid for it.
  if (GetACP() == CP_UTF8) return Utf16ToUtf8(utf16);
  const int in_len = ClampToInt(utf16.size());
  const wchar_t* in = reinterpret_cast<const wchar_t*>(utf16.data());
  // No best-fit mapping: a character the code page lacks is written as '?',
  // never as a look-alike that would name a different directory user.
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  const char kDefault[] = "?";
  const int needed = WideCharToMultiByte(CP_ACP, flags, in, in_len, nullptr, 0, kDefault, nullptr);
  if (needed <= 0) return std::string();
  std::string result(static_cast<size_t>(needed), '\0');
  const int written =
      WideCharToMultiByte(CP_ACP, flags, in, in_len, &result[0], needed, kDefault, nullptr);
  result.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return result;
}

size_t AnsiCharLength(const char* p) {
  if (*p == '\0') return 0;
  return static_cast<size_t>(CharNextA(p) - p);
}

std::string AnsiCodePageName() { return std::to_string(GetACP()); }

bool AnsiKeepsAscii() {
  static const bool keeps = [] {
    wchar_t wide[0x80];
    char ansi[0x80];
    wchar_t back[0x80];
    for (int c = 0; c < 0x80; ++c) wide[c] = static_cast<wchar_t>(c);
    if (WideCharToMultiByte(CP_ACP, 0, wide, 0x80, ansi, 0x80, nullptr, nullptr) != 0x80 ||
        MultiByteToWideChar(CP_ACP, 0, ansi, 0x80, back, 0x80) != 0x80) {
      return false;
    }
    for (int c = 0; c < 0x80; ++c) {
      if (ansi[c] != static_cast<char>(c) || back[c] != wide[c]) return false;
    }
    return true;
  }();
  return keeps;
}

}  // namespace platform
}  // namespace wendrel
