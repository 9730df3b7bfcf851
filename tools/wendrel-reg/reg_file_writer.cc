#include "tools/wendrel-reg/reg_file_writer.h"

#include <cstdio>
#include <string_view>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "tools/wendrel-reg/key_path.h"
#include "tools/wendrel-reg/value_format.h"

namespace wendrel {
namespace regtool {
namespace {

constexpr size_t kLineWidth = 80;  // regedit wraps hex data before this column

std::string_view AsView(const std::vector<uint8_t>& data) {
  return std::string_view(reinterpret_cast<const char*>(data.data()), data.size());
}

// The UTF-16 form of ANSI bytes, when converting it back gives the same bytes.
bool ToUtf16Exactly(std::string_view ansi, std::u16string* out) {
  *out = platform::AnsiToUtf16(ansi);
  return platform::Utf16ToAnsi(*out) == ansi;
}

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

// The type number as regedit writes it in hex(N): lower-case hex.
std::u16string TypeHex(uint32_t type) {
  char buffer[16];
  std::snprintf(buffer, sizeof(buffer), "%x", static_cast<unsigned>(type));
  return Ascii(buffer);
}

std::u16string Quoted(const std::u16string& text) {
  std::u16string out = u"\"";
  for (char16_t c : text) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  out.push_back(u'"');
  return out;
}

// `prefix` then the bytes as comma-separated hex pairs, wrapped as regedit
// wraps them: a backslash at the end of the line, two blanks on the next.
void AppendHex(std::u16string prefix, const std::vector<uint8_t>& data, std::u16string* out) {
  static const char16_t kDigits[] = u"0123456789abcdef";
  size_t column = prefix.size();
  out->append(prefix);
  for (size_t i = 0; i < data.size(); ++i) {
    const bool last = i + 1 == data.size();
    if (column + 3 > kLineWidth - 2) {
      out->append(u"\\\r\n  ");
      column = 2;
    }
    out->push_back(kDigits[data[i] >> 4]);
    out->push_back(kDigits[data[i] & 15]);
    if (!last) out->push_back(u',');
    column += 3;
  }
  out->append(u"\r\n");
}

bool IsTextString(std::string_view data) {
  return !data.empty() && data.back() == '\0' &&
         data.find('\0') == data.size() - 1 &&
         data.find_first_of("\r\n") == std::string_view::npos;
}

bool AppendValue(const std::string& key, const ExportValue& value, std::u16string* out,
                 std::string* error) {
  const std::string where = FullKeyName(key) + " value " +
                            (value.name.empty() ? std::string("(Default)")
                                                : "\"" + AnsiToUtf8(value.name) + "\"");
  std::u16string name;
  if (value.name.empty()) {
    name = u"@";
  } else {
    std::u16string wide;
    if (value.name.find_first_of("\r\n") != std::string::npos ||
        !ToUtf16Exactly(value.name, &wide)) {
      *error = "Cannot export " + where +
               ": its name has a line break or bytes not valid in the ANSI code page " +
               platform::AnsiCodePageName();
      return false;
    }
    name = Quoted(wide);
  }
  const std::string_view data = AsView(value.data);
  const bool string_type = value.type == platform::kRegSz ||
                           value.type == platform::kRegExpandSz ||
                           value.type == platform::kRegMultiSz;
  if (string_type) {
    std::u16string wide;
    if (!ToUtf16Exactly(data, &wide)) {
      *error = "Cannot export " + where + ": its data has bytes not valid in the ANSI code page " +
               platform::AnsiCodePageName();
      return false;
    }
    if (value.type == platform::kRegSz && IsTextString(data)) {
      wide.pop_back();  // the terminator is implied by the text form
      out->append(name + u"=" + Quoted(wide) + u"\r\n");
      return true;
    }
    std::vector<uint8_t> units;
    for (char16_t u : wide) {
      units.push_back(static_cast<uint8_t>(u & 0xFF));
      units.push_back(static_cast<uint8_t>(u >> 8));
    }
    AppendHex(name + u"=hex(" + TypeHex(value.type) + u"):", units, out);
    return true;
  }
  if (value.type == platform::kRegDword && value.data.size() == 4) {
    char buffer[16];
    const uint32_t v = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                       (static_cast<uint32_t>(value.data[3]) << 24);
    std::snprintf(buffer, sizeof(buffer), "%08x", static_cast<unsigned>(v));
    out->append(name + u"=dword:" + Ascii(buffer) + u"\r\n");
    return true;
  }
  if (value.type == platform::kRegBinary) {
    AppendHex(name + u"=hex:", value.data, out);
    return true;
  }
  AppendHex(name + u"=hex(" + TypeHex(value.type) + u"):", value.data, out);
  return true;
}

}  // namespace

bool WriteRegFile(const std::vector<ExportKey>& keys, std::string* bytes, std::string* error) {
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n";
  for (const ExportKey& key : keys) {
    std::u16string path;
    if (!ToUtf16Exactly(FullKeyName(key.path), &path)) {
      *error = "Cannot export key " + AnsiToUtf8(FullKeyName(key.path)) +
               ": its name has bytes not valid in the ANSI code page " +
               platform::AnsiCodePageName();
      return false;
    }
    text.append(u"\r\n[" + path + u"]\r\n");
    for (const ExportValue& value : key.values) {
      if (!AppendValue(key.path, value, &text, error)) return false;
    }
  }
  text.append(u"\r\n");
  bytes->assign("\xFF\xFE");
  bytes->reserve(2 + text.size() * 2);
  for (char16_t u : text) {
    bytes->push_back(static_cast<char>(u & 0xFF));
    bytes->push_back(static_cast<char>(u >> 8));
  }
  return true;
}

}  // namespace regtool
}  // namespace wendrel
