#include "resources/message_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace wendrel {
namespace {

enum class Kind { kInteger, kText };

// One parsed directive: the text it spans and the pieces printf may see.
struct Directive {
  size_t length = 0;       // bytes from the '%' to the conversion letter
  std::string flags;       // subset of "-+ #0"
  std::string width;       // up to three digits
  std::string precision;   // up to three digits, without the '.'
  bool has_precision = false;
  char conversion = '\0';  // 0 when the directive is not a complete one
};

Directive Parse(const std::string& s, size_t start) {
  Directive d;
  size_t i = start + 1;
  while (i < s.size() && std::strchr("-+ #0", s[i]) != nullptr && d.flags.size() < 5) {
    d.flags.push_back(s[i++]);
  }
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') d.width.push_back(s[i++]);
  if (i < s.size() && s[i] == '.') {
    d.has_precision = true;
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') d.precision.push_back(s[i++]);
  }
  while (i < s.size() && (s[i] == 'h' || s[i] == 'l')) ++i;
  if (i < s.size() && d.width.size() <= 3 && d.precision.size() <= 3) d.conversion = s[i];
  d.length = i - start + (i < s.size() ? 1 : 0);
  return d;
}

// Rebuilds the directive with only what is defined for its conversion: '#'
// is undefined for d and u, and a string takes no flag but '-'.
std::string Spec(const Directive& d, char conversion) {
  std::string spec = "%";
  for (char flag : d.flags) {
    if (flag == '#' && (conversion == 'd' || conversion == 'u')) continue;
    if (flag != '-' && conversion == 's') continue;
    spec.push_back(flag);
  }
  spec += d.width;
  if (d.has_precision) spec += "." + d.precision;
  spec.push_back(conversion);
  return spec;
}

// printf into a buffer sized for the result: width and precision are at most
// 999, so the result is bounded by them plus the argument.
template <typename T>
std::string Print(const std::string& spec, T value, size_t argument_size) {
  std::vector<char> buffer(2 * 1000 + argument_size + 64);
  const int n = std::snprintf(buffer.data(), buffer.size(), spec.c_str(), value);
  if (n < 0) return std::string();
  return std::string(buffer.data(), std::min(static_cast<size_t>(n), buffer.size() - 1));
}

std::string Fill(const std::string& format, Kind kind, int32_t number, const std::string& text) {
  std::string out;
  bool used = false;
  size_t i = 0;
  while (i < format.size()) {
    const size_t percent = format.find('%', i);
    if (percent == std::string::npos) {
      out.append(format, i, std::string::npos);
      break;
    }
    out.append(format, i, percent - i);
    if (percent + 1 < format.size() && format[percent + 1] == '%') {
      out.push_back('%');
      i = percent + 2;
      continue;
    }
    const Directive d = Parse(format, percent);
    const char c = d.conversion;
    const bool integer = c != '\0' && std::strchr("diuxXo", c) != nullptr;
    if (!used && kind == Kind::kInteger && integer) {
      used = true;
      if (c == 'd' || c == 'i') {
        out += Print(Spec(d, 'd'), static_cast<int>(number), 0);
      } else {
        out += Print(Spec(d, c), static_cast<unsigned>(static_cast<uint32_t>(number)), 0);
      }
    } else if (!used && kind == Kind::kText && c == 's') {
      used = true;
      out += Print(Spec(d, 's'), text.c_str(), text.size());
    } else {
      out.append(format, percent, d.length);  // kept as written
    }
    i = percent + d.length;
  }
  return out;
}

}  // namespace

std::string FormatWithInteger(const std::string& format, int32_t value) {
  return Fill(format, Kind::kInteger, value, std::string());
}

std::string FormatWithText(const std::string& format, const std::string& text) {
  return Fill(format, Kind::kText, 0, text);
}

}  // namespace wendrel
