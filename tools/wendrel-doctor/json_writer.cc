#include "json_writer.h"

#include <cstdio>

namespace wendrel {
namespace doctor {

namespace {

// Length of the well-formed UTF-8 sequence at s[i], or 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
size_t Utf8SequenceLength(const std::string& s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  auto continuation = [&](size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
  unsigned char b = byte(i);
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) return continuation(i + 1) ? 2 : 0;
  if (b >= 0xE0 && b <= 0xEF) {
    if (!continuation(i + 1) || !continuation(i + 2)) return 0;
    if (b == 0xE0 && byte(i + 1) < 0xA0) return 0;   // overlong
    if (b == 0xED && byte(i + 1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (b >= 0xF0 && b <= 0xF4) {
    if (!continuation(i + 1) || !continuation(i + 2) || !continuation(i + 3)) return 0;
    if (b == 0xF0 && byte(i + 1) < 0x90) return 0;   // overlong
    if (b == 0xF4 && byte(i + 1) >= 0x90) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

std::string JsonQuote(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    unsigned char c = static_cast<unsigned char>(utf8[i]);
    size_t length = Utf8SequenceLength(utf8, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
      continue;
    }
    if (length > 1) {
      out.append(utf8, i, length);
      i += length;
      continue;
    }
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof(escape), "\\u%04x", c);
          out += escape;
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!has_member_.empty()) {
    if (has_member_.back()) *out_ << ", ";
    has_member_.back() = true;
  }
}

void JsonWriter::Key(const std::string& name) {
  BeforeValue();
  *out_ << JsonQuote(name) << ": ";
  after_key_ = true;
}

void JsonWriter::BeginObject() {
  BeforeValue();
  *out_ << '{';
  has_member_.push_back(false);
}

void JsonWriter::EndObject() {
  has_member_.pop_back();
  *out_ << '}';
}

void JsonWriter::BeginArray() {
  BeforeValue();
  *out_ << '[';
  has_member_.push_back(false);
}

void JsonWriter::EndArray() {
  has_member_.pop_back();
  *out_ << ']';
}

void JsonWriter::String(const std::string& utf8) {
  BeforeValue();
  *out_ << JsonQuote(utf8);
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  *out_ << value;
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  *out_ << (value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeValue();
  *out_ << "null";
}

}  // namespace doctor
}  // namespace wendrel
