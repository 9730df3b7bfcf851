// The code-page port: conversions between the process's ANSI code page,
// UTF-16 and UTF-8.
//
// On Windows the ANSI code page is CP_ACP. Natively it is the iconv name in
// $WENDREL_ACP (default WINDOWS-1252), read once per process.
//
// Conversions never fail and never read or write past their bounds: input
// that is not valid in the source encoding, and characters that the target
// cannot represent, become '?' in the ANSI code page and U+FFFD in UTF-16 and
// UTF-8 (as WideCharToMultiByte and MultiByteToWideChar do with their
// default characters).

#ifndef WENDREL_PLATFORM_CODEPAGE_H_
#define WENDREL_PLATFORM_CODEPAGE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace wendrel {
namespace platform {

std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view utf16);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The first `max_units` UTF-16 units of `text`, one fewer when the cut would
// split a surrogate pair.
std::u16string_view TruncateUtf16(std::u16string_view text, size_t max_units);

// UTF-8 text in the ANSI code page: through UTF-16, cut to its first
// `max_units` units as TruncateUtf16 cuts. Plain ASCII within the limit is
// copied as it is when the code page keeps ASCII (see AnsiKeepsAscii), which
// gives the same bytes without the two conversions.
std::string Utf8ToAnsi(std::string_view utf8, size_t max_units);

// True when the characters U+0000 to U+007F are the bytes 0x00 to 0x7F in the
// ANSI code page, both ways: so in every Windows ANSI code page, and natively
// in every iconv code page but a few (UTF-7, EBCDIC, ...). Probed once.
bool AnsiKeepsAscii();

// Number of bytes of the ANSI character that starts at `p` (1, or 2 for the
// lead byte of a double-byte code page followed by a trail byte); 0 at the
// terminating zero. CharNextA's step.
size_t AnsiCharLength(const char* p);

// The name of the ANSI code page in use ("WINDOWS-1252", "1252", ...), for
// diagnostics.
std::string AnsiCodePageName();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_CODEPAGE_H_
