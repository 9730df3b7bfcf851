#include "tools/wendrel-reg/reg_file_parser.h"

#include <utility>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "tools/wendrel-reg/key_path.h"

namespace wendrel {
namespace regtool {
namespace {

constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kHeader5 = u"Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader5Bytes = "Windows Registry Editor Version 5.00";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
  }
  return true;
}

std::u16string_view TrimRight(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::u16string_view TrimLeft(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// Strict UTF-8 check (no overlong forms, no surrogates, nothing past U+10FFFF).
bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    unsigned min;
    unsigned cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, min = 0x80, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, min = 0x800, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (s.size() - i - 1 < n) return false;
    for (size_t k = 1; k <= n; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

std::u16string Utf16FromBytes(std::string_view bytes, bool big_endian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const unsigned b0 = static_cast<unsigned char>(bytes[i]);
    const unsigned b1 = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(static_cast<char16_t>(big_endian ? (b0 << 8) | b1 : b0 | (b1 << 8)));
  }
  return text;
}

// The first line of `text` without blanks around it, skipping blank lines.
std::u16string_view FirstLine(std::u16string_view text) {
  size_t start = 0;
  for (;;) {
    size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view line = TrimLeft(TrimRight(text.substr(start, end - start)));
    if (!line.empty() || end == text.size()) return line;
    start = end + 1;
  }
}

std::string ToAnsi(std::u16string_view text) { return platform::Utf16ToAnsi(text); }

std::string ToUtf8(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

// One logical statement being parsed: its text and where each piece of it
// came from, so errors point at the physical line.
struct Statement {
  std::u16string text;
  std::vector<std::pair<size_t, int>> pieces;  // (offset in text, line number)

  int LineAt(size_t offset) const {
    int line = pieces.empty() ? 0 : pieces.front().second;
    for (const auto& piece : pieces) {
      if (piece.first <= offset) line = piece.second;
    }
    return line;
  }
};

class Parser {
 public:
  Parser(std::u16string_view text, RegFileFormat format, RegFileParseResult* result)
      : text_(text), format_(format), result_(result) {}

  bool Run();

 private:
  bool NextLine(std::u16string_view* line);
  bool Fail(int line, std::string message) {
    result_->error_line = line;
    result_->error = std::move(message);
    return false;
  }

  bool ParseKeyLine(std::u16string_view line);
  bool ParseValueLine(std::u16string_view line);
  bool ParseQuoted(const Statement& st, size_t* pos, std::u16string* out, const char* what);
  bool ParseHexBytes(const Statement& st, size_t pos, std::vector<uint8_t>* out);
  bool ParseValueData(const Statement& st, size_t pos, RegFileOperation* op);

  std::u16string_view text_;
  RegFileFormat format_;
  RegFileParseResult* result_;
  size_t pos_ = 0;
  int line_number_ = 0;
  bool have_key_ = false;
  bool key_deleted_ = false;
  std::string key_;
};

bool Parser::NextLine(std::u16string_view* line) {
  if (pos_ >= text_.size()) return false;
  size_t end = text_.find_first_of(u"\r\n", pos_);
  if (end == std::u16string_view::npos) end = text_.size();
  *line = text_.substr(pos_, end - pos_);
  pos_ = end;
  if (pos_ < text_.size()) {
    if (text_[pos_] == u'\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == u'\n') ++pos_;
    ++pos_;
  }
  ++line_number_;
  return true;
}

bool Parser::Run() {
  std::u16string_view line;
  bool header = false;
  while (NextLine(&line)) {
    line = TrimLeft(TrimRight(line));
    if (!header) {
      if (line.empty()) continue;
      if (line != kHeader4 && line != kHeader5) {
        return Fail(line_number_,
                    "not a registry file: the first line must be \"REGEDIT4\" or "
                    "\"Windows Registry Editor Version 5.00\"");
      }
      header = true;
      continue;
    }
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      if (!ParseKeyLine(line)) return false;
    } else if (line.front() == u'"' || line.front() == u'@') {
      if (!ParseValueLine(line)) return false;
    } else {
      return Fail(line_number_, "unexpected text \"" + ToUtf8(line.substr(0, 40)) +
                                    "\": expected [KEY], \"name\"=..., @=... or a ; comment");
    }
  }
  if (!header) return Fail(0, "the file is empty: no REGEDIT4 or version 5 header");
  return true;
}

bool Parser::ParseKeyLine(std::u16string_view line) {
  if (line.back() != u']') return Fail(line_number_, "key line without a closing ']'");
  std::u16string_view inner = line.substr(1, line.size() - 2);
  const bool remove = !inner.empty() && inner.front() == u'-';
  if (remove) inner.remove_prefix(1);
  if (inner.empty()) return Fail(line_number_, "empty key name in brackets");
  std::string subkey;
  std::string error;
  if (!ParseKeyPath(ToAnsi(inner), &subkey, &error)) return Fail(line_number_, error);
  if (remove && subkey.empty()) {
    return Fail(line_number_, "HKEY_LOCAL_MACHINE itself cannot be deleted");
  }
  RegFileOperation op;
  op.kind = remove ? RegFileOperation::Kind::kDeleteKey : RegFileOperation::Kind::kCreateKey;
  op.key = subkey;
  op.line = line_number_;
  result_->operations.push_back(std::move(op));
  have_key_ = true;
  key_deleted_ = remove;
  key_ = subkey;
  return true;
}

bool Parser::ParseQuoted(const Statement& st, size_t* pos, std::u16string* out,
                         const char* what) {
  const std::u16string& s = st.text;
  size_t i = *pos + 1;  // past the opening quote
  out->clear();
  while (i < s.size()) {
    const char16_t c = s[i];
    if (c == u'"') {
      *pos = i + 1;
      return true;
    }
    if (c == u'\\') {
      if (i + 1 >= s.size()) break;
      const char16_t next = s[i + 1];
      if (next != u'\\' && next != u'"') {
        return Fail(st.LineAt(i), std::string("unknown escape \\") + ToUtf8(s.substr(i + 1, 1)) +
                                      " in " + what + " (only \\\\ and \\\" are allowed)");
      }
      out->push_back(next);
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return Fail(st.LineAt(*pos), std::string("the ") + what + " has no closing quote");
}

bool Parser::ParseHexBytes(const Statement& st, size_t pos, std::vector<uint8_t>* out) {
  const std::u16string& s = st.text;
  out->clear();
  size_t i = pos;
  auto skip_blanks = [&] {
    while (i < s.size() && IsBlank(s[i])) ++i;
  };
  skip_blanks();
  if (i == s.size()) return true;  // no bytes at all: empty data
  for (;;) {
    skip_blanks();
    const size_t start = i;
    int value = 0;
    while (i < s.size() && HexDigit(s[i]) >= 0 && i - start < 2) {
      value = value * 16 + HexDigit(s[i]);
      ++i;
    }
    if (i == start) {
      return Fail(st.LineAt(i), i < s.size() ? "bad byte \"" + ToUtf8(s.substr(i, 1)) +
                                                   "\" in hex data (expected two hex digits)"
                                             : std::string("hex data ends with a comma"));
    }
    out->push_back(static_cast<uint8_t>(value));
    skip_blanks();
    if (i == s.size()) return true;
    if (s[i] != u',') {
      return Fail(st.LineAt(i),
                  "bad character \"" + ToUtf8(s.substr(i, 1)) +
                      "\" in hex data (bytes are two hex digits separated by commas)");
    }
    ++i;
  }
}

bool Parser::ParseValueData(const Statement& st, size_t pos, RegFileOperation* op) {
  const std::u16string& s = st.text;
  const std::u16string_view rest(s.data() + pos, s.size() - pos);
  const int line = st.LineAt(pos);
  if (rest.empty()) return Fail(line, "missing value data after '='");
  if (rest.front() == u'"') {
    size_t p = pos;
    std::u16string value;
    if (!ParseQuoted(st, &p, &value, "string")) return false;
    if (!TrimRight(std::u16string_view(s).substr(p)).empty()) {
      return Fail(st.LineAt(p), "unexpected text after the closing quote of the string");
    }
    const std::string ansi = ToAnsi(value);
    op->type = platform::kRegSz;
    op->data.assign(ansi.begin(), ansi.end());
    op->data.push_back(0);
    return true;
  }
  if (rest == u"-") {
    op->kind = RegFileOperation::Kind::kDeleteValue;
    return true;
  }
  if (StartsWithIgnoreCase(rest, u"dword:")) {
    const std::u16string_view digits = TrimRight(rest.substr(6));
    if (digits.empty() || digits.size() > 8) {
      return Fail(line, "dword: needs 1 to 8 hex digits");
    }
    uint32_t v = 0;
    for (char16_t c : digits) {
      if (HexDigit(c) < 0) {
        return Fail(line, "bad hex digit \"" + ToUtf8(std::u16string(1, c)) + "\" in dword:");
      }
      v = (v << 4) | static_cast<uint32_t>(HexDigit(c));
    }
    op->type = platform::kRegDword;
    op->data = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    return true;
  }
  if (StartsWithIgnoreCase(rest, u"hex:")) {
    op->type = platform::kRegBinary;
    return ParseHexBytes(st, pos + 4, &op->data);
  }
  if (StartsWithIgnoreCase(rest, u"hex(")) {
    size_t i = 4;
    uint32_t type = 0;
    while (i < rest.size() && HexDigit(rest[i]) >= 0 && i - 4 < 8) {
      type = (type << 4) | static_cast<uint32_t>(HexDigit(rest[i]));
      ++i;
    }
    if (i == 4 || i + 1 >= rest.size() || rest[i] != u')' || rest[i + 1] != u':') {
      return Fail(line, "bad typed hex data: expected hex(N): with N a hex type number");
    }
    op->type = type;
    if (!ParseHexBytes(st, pos + i + 2, &op->data)) return false;
    const bool string_type = type == platform::kRegSz || type == platform::kRegExpandSz ||
                             type == platform::kRegMultiSz;
    // Version 5 files spell strings as UTF-16LE (what the wide registry API
    // stores); the port stores them in the ANSI code page.
    if (string_type && format_ == RegFileFormat::kVersion5) {
      if (op->data.size() % 2 != 0) {
        return Fail(line, "string data of hex(" + ToUtf8(rest.substr(4, i - 4)) +
                              ") must be UTF-16 (an even number of bytes) in a version 5 file");
      }
      std::u16string units;
      for (size_t k = 0; k < op->data.size(); k += 2) {
        units.push_back(static_cast<char16_t>(op->data[k] | (op->data[k + 1] << 8)));
      }
      const std::string ansi = ToAnsi(units);
      op->data.assign(ansi.begin(), ansi.end());
    }
    return true;
  }
  return Fail(line, "unknown value data \"" + ToUtf8(rest.substr(0, 20)) +
                        "\": expected \"string\", dword:, hex:, hex(N): or -");
}

bool Parser::ParseValueLine(std::u16string_view first) {
  const int first_line = line_number_;
  if (!have_key_) return Fail(first_line, "a value before any [KEY] line");
  if (key_deleted_) {
    return Fail(first_line, "a value under [-KEY]: the key is being deleted");
  }
  Statement st;
  st.text.assign(first);
  st.pieces.emplace_back(0, first_line);

  RegFileOperation op;
  op.kind = RegFileOperation::Kind::kSetValue;
  op.key = key_;
  op.line = first_line;
  size_t pos = 0;
  if (st.text[0] == u'@') {
    pos = 1;
  } else {
    std::u16string name;
    if (!ParseQuoted(st, &pos, &name, "value name")) return false;
    if (name.empty()) {
      return Fail(first_line, "empty value name: the default value is written @");
    }
    op.name = ToAnsi(name);
  }
  while (pos < st.text.size() && IsBlank(st.text[pos])) ++pos;
  if (pos >= st.text.size() || st.text[pos] != u'=') {
    return Fail(first_line, "expected '=' after the value name");
  }
  ++pos;
  while (pos < st.text.size() && IsBlank(st.text[pos])) ++pos;

  // Only hex data goes on over several lines: a string's final backslash is
  // part of an escape, never a continuation.
  if (StartsWithIgnoreCase(std::u16string_view(st.text).substr(pos), u"hex")) {
    while (!st.text.empty() && st.text.back() == u'\\') {
      st.text.pop_back();
      std::u16string_view next;
      if (!NextLine(&next)) {
        return Fail(line_number_, "the file ends after a continuation backslash");
      }
      next = TrimLeft(TrimRight(next));
      st.pieces.emplace_back(st.text.size(), line_number_);
      st.text.append(next);
    }
  }
  if (!ParseValueData(st, pos, &op)) return false;
  result_->operations.push_back(std::move(op));
  return true;
}

}  // namespace

bool DecodeRegFileText(std::string_view bytes, std::u16string* text, RegFileFormat* format,
                       std::string* error) {
  auto starts = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    const bool big_endian = bytes[0] == '\xFE';
    bytes.remove_prefix(2);
    if (bytes.size() % 2 != 0) {
      *error = "the file ends in the middle of a UTF-16 character";
      return false;
    }
    *text = Utf16FromBytes(bytes, big_endian);
  } else if (starts("\xEF\xBB\xBF")) {
    *text = platform::Utf8ToUtf16(bytes.substr(3));
  } else {
    // Decide the 8-bit encoding from the header, which is ASCII in both.
    size_t start = bytes.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) start = bytes.size();
    const bool version5 = bytes.substr(start, kHeader5Bytes.size()) == kHeader5Bytes;
    if (version5 && IsValidUtf8(bytes)) {
      *text = platform::Utf8ToUtf16(bytes);
    } else {
      *text = platform::AnsiToUtf16(bytes);
    }
  }
  // Some writers end the file with a zero character.
  while (!text->empty() && text->back() == u'\0') text->pop_back();
  const std::u16string_view header = FirstLine(*text);
  if (header == kHeader4) {
    *format = RegFileFormat::kRegedit4;
  } else if (header == kHeader5) {
    *format = RegFileFormat::kVersion5;
  } else {
    *error =
        "not a registry file: the first line must be \"REGEDIT4\" or "
        "\"Windows Registry Editor Version 5.00\"";
    return false;
  }
  return true;
}

bool ParseRegFile(std::string_view bytes, RegFileParseResult* result) {
  result->operations.clear();
  result->error.clear();
  result->error_line = 0;
  std::u16string text;
  if (!DecodeRegFileText(bytes, &text, &result->format, &result->error)) {
    // A missing header is the first line's fault; an empty or cut file has
    // no line to blame.
    result->error_line = !bytes.empty() && result->error.rfind("not a", 0) == 0 ? 1 : 0;
    return false;
  }
  Parser parser(text, result->format, result);
  return parser.Run();
}

}  // namespace regtool
}  // namespace wendrel
