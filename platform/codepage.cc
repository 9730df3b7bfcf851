// The parts of the code-page port that read the same on every system: UTF-8
// and UTF-16 are fixed encodings, so both builds convert them with this one
// decoder and produce identical replacement characters for bad input.

#include "platform/codepage.h"

namespace wendrel {
namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void AppendUtf16(char32_t c, std::u16string* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

// Decodes well-formed UTF-8 as RFC 3629 defines it. Every maximal prefix of a
// well-formed sequence that is cut short or broken becomes one U+FFFD (the
// Unicode "maximal subpart" practice, which is also what Windows does), so
// overlong forms, encoded surrogates and values above U+10FFFF never decode.
std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  size_t i = 0;
  const size_t n = utf8.size();
  while (i < n) {
    const unsigned char b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out.push_back(b0);
      ++i;
      continue;
    }
    size_t need;
    char32_t c;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      need = 1;
      c = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      need = 2;
      c = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
      if (b0 == 0xED) hi = 0x9F;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      need = 3;
      c = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;  // no overlong forms
      if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (size_t k = 0; k < need; ++k, ++j) {
      if (j >= n) {
        ok = false;
        break;
      }
      const unsigned char b = static_cast<unsigned char>(utf8[j]);
      const unsigned char min = k == 0 ? lo : 0x80;
      const unsigned char max = k == 0 ? hi : 0xBF;
      if (b < min || b > max) {
        ok = false;
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    if (ok) {
      AppendUtf16(c, &out);
    } else {
      out.push_back(kReplacement);
    }
    i = j;  // resume at the byte that broke the sequence
  }
  return out;
}

// A surrogate without its partner has no UTF-8 form: it becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (size_t i = 0; i < utf16.size(); ++i) {
    const char16_t u = utf16[i];
    char32_t c = u;
    if (IsHighSurrogate(u) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1])) {
      c = 0x10000 + ((static_cast<char32_t>(u - 0xD800) << 10) | (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (IsHighSurrogate(u) || IsLowSurrogate(u)) {
      c = kReplacement;
    }
    AppendUtf8(c, &out);
  }
  return out;
}

std::u16string_view TruncateUtf16(std::u16string_view text, size_t max_units) {
  if (text.size() <= max_units) return text;
  size_t cut = max_units;
  // Never leave the high half of a pair as the last unit.
  if (cut > 0 && IsHighSurrogate(text[cut - 1]) && IsLowSurrogate(text[cut])) --cut;
  return text.substr(0, cut);
}

std::string Utf8ToAnsi(std::string_view utf8, size_t max_units) {
  // ASCII is one UTF-16 unit per byte, so the length is the unit count.
  if (utf8.size() <= max_units && AnsiKeepsAscii()) {
    bool ascii = true;
    for (char c : utf8) {
      if (static_cast<unsigned char>(c) >= 0x80) {
        ascii = false;
        break;
      }
    }
    if (ascii) return std::string(utf8);
  }
  const std::u16string utf16 = Utf8ToUtf16(utf8);
  return Utf16ToAnsi(TruncateUtf16(utf16, max_units));
}

}  // namespace platform
}  // namespace wendrel
