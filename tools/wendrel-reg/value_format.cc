#include "tools/wendrel-reg/value_format.h"

#include <cstdio>

#include "platform/codepage.h"
#include "platform/registry.h"
#include "tools/wendrel-reg/key_path.h"

namespace wendrel {
namespace regtool {
namespace {

struct TypeEntry {
  uint32_t type;
  const char* name;
  bool addable;  // accepted by add /t
};

constexpr TypeEntry kTypes[] = {
    {0, "REG_NONE", true},
    {1, "REG_SZ", true},
    {2, "REG_EXPAND_SZ", true},
    {3, "REG_BINARY", true},
    {4, "REG_DWORD", true},
    {5, "REG_DWORD_BIG_ENDIAN", false},
    {6, "REG_LINK", false},
    {7, "REG_MULTI_SZ", true},
    {8, "REG_RESOURCE_LIST", false},
    {9, "REG_FULL_RESOURCE_DESCRIPTOR", false},
    {10, "REG_RESOURCE_REQUIREMENTS_LIST", false},
    {11, "REG_QWORD", true},
};

std::string UpperHex(const std::vector<uint8_t>& data) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(data.size() * 2);
  for (uint8_t b : data) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 15]);
  }
  return out;
}

uint64_t LittleEndian(const std::vector<uint8_t>& data) {
  uint64_t v = 0;
  for (size_t i = data.size(); i-- > 0;) v = (v << 8) | data[i];
  return v;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal, or hexadecimal after 0x; no sign, no overflow past `max`.
bool ParseNumber(std::string_view text, uint64_t max, uint64_t* value) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t v = 0;
  for (char c : text) {
    const int d = HexValue(c);
    if (d < 0 || static_cast<unsigned>(d) >= base) return false;
    if (v > (max - static_cast<uint64_t>(d)) / base) return false;
    v = v * base + static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

bool AppendAnsiString(std::string_view utf8, std::vector<uint8_t>* bytes, std::string* error) {
  std::string ansi;
  if (!Utf8ToAnsiExactly(utf8, &ansi)) {
    *error = "The data \"" + std::string(utf8) + "\" has characters the ANSI code page " +
             platform::AnsiCodePageName() + " cannot hold.";
    return false;
  }
  bytes->insert(bytes->end(), ansi.begin(), ansi.end());
  bytes->push_back(0);
  return true;
}

}  // namespace

std::string AnsiToUtf8(std::string_view ansi) {
  return platform::Utf16ToUtf8(platform::AnsiToUtf16(ansi));
}

std::string Utf8ToAnsi(std::string_view utf8) {
  return platform::Utf16ToAnsi(platform::Utf8ToUtf16(utf8));
}

bool Utf8ToAnsiExactly(std::string_view utf8, std::string* ansi) {
  *ansi = Utf8ToAnsi(utf8);
  return AnsiToUtf8(*ansi) == utf8;
}

std::string TypeName(uint32_t type) {
  for (const TypeEntry& entry : kTypes) {
    if (entry.type == type) return entry.name;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "REG_0x%X", static_cast<unsigned>(type));
  return buffer;
}

bool ParseTypeName(std::string_view name, uint32_t* type) {
  for (const TypeEntry& entry : kTypes) {
    if (entry.addable && EqualsIgnoreCase(name, entry.name)) {
      *type = entry.type;
      return true;
    }
  }
  return false;
}

std::string FormatData(uint32_t type, const std::vector<uint8_t>& data) {
  const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
  char buffer[32];
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
      return AnsiToUtf8(bytes.substr(0, bytes.find('\0')));
    case platform::kRegMultiSz: {
      std::string_view items = bytes;
      while (!items.empty() && items.back() == '\0') items.remove_suffix(1);
      std::string out;
      for (;;) {
        const size_t nul = items.find('\0');
        out += AnsiToUtf8(items.substr(0, nul));
        if (nul == std::string_view::npos) break;
        out += "\\0";
        items.remove_prefix(nul + 1);
      }
      return out;
    }
    case platform::kRegDword:
      if (data.size() != 4) break;
      std::snprintf(buffer, sizeof(buffer), "0x%x", static_cast<unsigned>(LittleEndian(data)));
      return buffer;
    case platform::kRegQword:
      if (data.size() != 8) break;
      std::snprintf(buffer, sizeof(buffer), "0x%llx",
                    static_cast<unsigned long long>(LittleEndian(data)));
      return buffer;
    default:
      break;
  }
  return UpperHex(data);
}

std::string FormatValueLine(const std::string& name, uint32_t type,
                            const std::vector<uint8_t>& data) {
  return "    " + (name.empty() ? std::string("(Default)") : AnsiToUtf8(name)) + "    " +
         TypeName(type) + "    " + FormatData(type, data);
}

bool ParseCommandLineData(uint32_t type, std::string_view data, std::string_view separator,
                          std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  switch (type) {
    case platform::kRegSz:
    case platform::kRegExpandSz:
      return AppendAnsiString(data, bytes, error);
    case platform::kRegMultiSz: {
      if (separator.empty()) {
        *error = "the REG_MULTI_SZ separator must not be empty";
        return false;
      }
      if (data.empty()) {
        bytes->push_back(0);  // an empty list: the terminator alone
        return true;
      }
      for (;;) {
        const size_t at = data.find(separator);
        if (!AppendAnsiString(data.substr(0, at), bytes, error)) return false;
        if (at == std::string_view::npos) break;
        data.remove_prefix(at + separator.size());
      }
      bytes->push_back(0);
      return true;
    }
    case platform::kRegDword:
    case platform::kRegQword: {
      const bool dword = type == platform::kRegDword;
      uint64_t v = 0;
      if (!ParseNumber(data, dword ? 0xFFFFFFFFull : ~0ull, &v)) {
        *error = "Invalid " + TypeName(type) + " data \"" + std::string(data) +
                 "\": give a decimal number or 0x hex" +
                 (dword ? " up to 0xffffffff" : " up to 0xffffffffffffffff");
        return false;
      }
      for (int i = 0; i < (dword ? 4 : 8); ++i) {
        bytes->push_back(static_cast<uint8_t>(v >> (8 * i)));
      }
      return true;
    }
    case platform::kRegBinary:
    case platform::kRegNone: {
      if (data.size() % 2 != 0) {
        *error = "Invalid " + TypeName(type) +
                 " data: give an even number of hex digits (two per byte)";
        return false;
      }
      for (size_t i = 0; i < data.size(); i += 2) {
        const int hi = HexValue(data[i]);
        const int lo = HexValue(data[i + 1]);
        if (hi < 0 || lo < 0) {
          *error = "Invalid " + TypeName(type) + " data \"" + std::string(data) +
                   "\": only hex digits are allowed";
          return false;
        }
        bytes->push_back(static_cast<uint8_t>(hi * 16 + lo));
      }
      return true;
    }
    default:
      *error = "Unsupported type " + TypeName(type);
      return false;
  }
}

}  // namespace regtool
}  // namespace wendrel
