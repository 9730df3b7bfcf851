// The ANSI side of the code-page port on POSIX systems, through iconv. The
// ANSI code page is the iconv name in $WENDREL_ACP (WINDOWS-1252 when unset or
// unknown to iconv), fixed the first time it is needed.

#include <errno.h>
#include <iconv.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/codepage.h"

namespace wendrel {
namespace platform {
namespace {

constexpr const char* kDefaultCodePage = "WINDOWS-1252";
constexpr const char* kUtf16 = "UTF-16LE";

// One iconv conversion descriptor, closed on every way out. iconv_t keeps
// shift state, so each conversion opens its own: that keeps the port safe to
// use from the login thread and the worker at once.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts as much of [*in, *in + *in_left) as fits, appending the output
  // to `out`. Returns 0 when all input was consumed, else the errno that
  // stopped the conversion (EILSEQ or EINVAL); *in then points at the
  // offending input.
  int Convert(const char** in, size_t* in_left, std::string* out) {
    char chunk[1024];
    for (;;) {
      char* dst = chunk;
      size_t dst_left = sizeof(chunk);
      char* src = const_cast<char*>(*in);
      const size_t rc = iconv(cd_, *in_left > 0 ? &src : nullptr, in_left, &dst, &dst_left);
      const int err = rc == static_cast<size_t>(-1) ? errno : 0;
      *in = src;
      out->append(chunk, sizeof(chunk) - dst_left);
      if (err == E2BIG) continue;
      if (err != 0) return err;
      if (*in_left == 0) {
        // Flush any pending shift sequence of a stateful code page.
        dst = chunk;
        dst_left = sizeof(chunk);
        iconv(cd_, nullptr, nullptr, &dst, &dst_left);
        out->append(chunk, sizeof(chunk) - dst_left);
        return 0;
      }
    }
  }

  // Forgets the shift state after an error, so the next byte starts afresh.
  void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

 private:
  iconv_t cd_;
};

struct CodePage {
  std::string name;
  // True when the bytes 0x00 to 0x7F are the characters U+0000 to U+007F
  // both ways, as in every Windows ANSI code page: plain ASCII text then
  // converts byte for byte without iconv, whose descriptor costs far more
  // to open than the short texts of the directory take to convert.
  bool ascii_transparent = false;
  // The default code page is known: nothing needs to be asked of iconv
  // (which loads its conversion modules) until a text outside ASCII comes.
  bool known = false;
};

bool Usable(const std::string& name) {
  Iconv to(name.c_str(), kUtf16);
  Iconv from(kUtf16, name.c_str());
  return to.ok() && from.ok();
}

// Converts all of ASCII through iconv both ways, as one text each way.
bool IsAsciiTransparent(const std::string& name) {
  std::string ascii;
  std::string utf16;
  for (int c = 0; c < 0x80; ++c) {
    ascii.push_back(static_cast<char>(c));
    utf16.push_back(static_cast<char>(c));
    utf16.push_back('\0');
  }
  Iconv to_utf16(kUtf16, name.c_str());
  Iconv to_ansi(name.c_str(), kUtf16);
  std::string converted_utf16, converted_ansi;
  const char* in = ascii.data();
  size_t left = ascii.size();
  if (!to_utf16.ok() || to_utf16.Convert(&in, &left, &converted_utf16) != 0) return false;
  in = utf16.data();
  left = utf16.size();
  if (!to_ansi.ok() || to_ansi.Convert(&in, &left, &converted_ansi) != 0) return false;
  return converted_utf16 == utf16 && converted_ansi == ascii;
}

template <typename Char>
bool AllAscii(std::basic_string_view<Char> text) {
  for (Char c : text) {
    if (static_cast<uint32_t>(c) >= 0x80) return false;
  }
  return true;
}

CodePage MakeCodePage() {
  CodePage page;
  const char* env = std::getenv("WENDREL_ACP");
  page.name = env != nullptr && *env != '\0' ? env : kDefaultCodePage;
  if (page.name == kDefaultCodePage) {
    page.ascii_transparent = true;  // a single-byte Windows code page
    page.known = true;
    return page;
  }
  if (!Usable(page.name)) page.name = kDefaultCodePage;
  page.ascii_transparent = IsAsciiTransparent(page.name);
  return page;
}

// Read once: the ANSI code page of a process does not change while it runs.
const CodePage& Current() {
  static const CodePage page = MakeCodePage();
  return page;
}

// Bytes that open a two-byte character (CP932, CP936, ...): the ones iconv
// calls an incomplete sequence when they stand alone. Asked of iconv the
// first time a byte outside ASCII is measured.
struct LeadBytes {
  bool lead[256] = {};
};

LeadBytes MakeLeadBytes() {
  LeadBytes bytes;
  if (Current().known) return bytes;  // single-byte
  Iconv probe(kUtf16, Current().name.c_str());
  for (int b = 0x80; b < 0x100; ++b) {
    const char byte = static_cast<char>(b);
    const char* in = &byte;
    size_t left = 1;
    std::string ignored;
    probe.Reset();
    bytes.lead[b] = probe.Convert(&in, &left, &ignored) == EINVAL;
  }
  return bytes;
}

const LeadBytes& Leads() {
  static const LeadBytes bytes = MakeLeadBytes();
  return bytes;
}

// The UTF-16LE unit at `p`.
unsigned UnitAt(const char* p) {
  return static_cast<unsigned char>(p[0]) | (static_cast<unsigned char>(p[1]) << 8);
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string result;
  if (Current().ascii_transparent && AllAscii(ansi)) {
    result.assign(ansi.begin(), ansi.end());
    return result;
  }
  Iconv cd(kUtf16, Current().name.c_str());
  std::string bytes;
  const char* in = ansi.data();
  size_t left = ansi.size();
  while (left > 0) {
    const int err = cd.Convert(&in, &left, &bytes);
    if (err == 0) break;
    // A byte the code page does not define, or a lead byte at the very end:
    // one replacement character, then go on with the next byte.
    bytes.append("\xFD\xFF", 2);
    ++in;
    --left;
    cd.Reset();
  }
  result.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    result.push_back(static_cast<char16_t>(UnitAt(&bytes[i])));
  }
  return result;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  if (Current().ascii_transparent && AllAscii(utf16)) {
    return std::string(utf16.begin(), utf16.end());
  }
  std::string bytes;
  bytes.reserve(utf16.size() * 2);
  for (char16_t u : utf16) {
    bytes.push_back(static_cast<char>(u & 0xFF));
    bytes.push_back(static_cast<char>(u >> 8));
  }
  std::string result;
  Iconv cd(Current().name.c_str(), kUtf16);
  const char* in = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const int err = cd.Convert(&in, &left, &result);
    if (err == 0) break;
    // A character the code page cannot represent, or a surrogate without its
    // partner: '?' in its place. A valid pair is skipped as one character.
    result.push_back('?');
    size_t skip = 2;
    if (left >= 4) {
      const unsigned hi = UnitAt(in);
      const unsigned lo = UnitAt(in + 2);
      if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
    }
    if (skip > left) skip = left;
    in += skip;
    left -= skip;
    cd.Reset();
  }
  return result;
}

size_t AnsiCharLength(const char* p) {
  if (*p == '\0') return 0;
  const unsigned char byte = static_cast<unsigned char>(*p);
  if (byte >= 0x80 && Leads().lead[byte] && p[1] != '\0') return 2;
  return 1;
}

std::string AnsiCodePageName() { return Current().name; }

bool AnsiKeepsAscii() { return Current().ascii_transparent; }

}  // namespace platform
}  // namespace wendrel
