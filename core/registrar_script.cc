#include "core/registrar_script.h"

#include <cstddef>
#include <utility>

#include "platform/registry.h"

namespace wendrel {
namespace {

// Deeper nesting than this is no registration script; the limit also bounds
// the parser's recursion whatever the input.
constexpr int kMaxDepth = 32;

// The registry's own limits on names.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;

struct Token {
  std::string text;
  bool quoted = false;
  int line = 0;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualsNoCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

class Parser {
 public:
  Parser(const std::string& text, std::string* error) : text_(text), error_(error) {}

  bool Parse(RegistrationScript* script) {
    Token token;
    while (Next(&token)) {
      if (token.quoted || !(EqualsNoCase(token.text, "HKLM") ||
                            EqualsNoCase(token.text, "HKEY_LOCAL_MACHINE"))) {
        return RootError(token);
      }
      if (!Expect("{", "after " + token.text)) return false;
      if (!ParseBody(&script->keys, nullptr, 1)) return false;
    }
    return !failed_;
  }

 private:
  // Reads the next token; false at the end of the text (or on a lexical
  // error, which sets failed_).
  bool Next(Token* token) {
    if (has_peeked_) {
      has_peeked_ = false;
      *token = peeked_;
      return true;
    }
    while (pos_ < text_.size() && IsSpace(text_[pos_])) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ >= text_.size() || failed_) return false;
    token->line = line_;
    token->text.clear();
    token->quoted = text_[pos_] == '\'';
    std::string raw;
    if (token->quoted) {
      ++pos_;
      for (;;) {
        if (pos_ >= text_.size()) {
          return Fail(token->line, "a quoted text is not closed");
        }
        const char c = text_[pos_++];
        if (c == '\n') ++line_;
        if (c == '\'') {
          if (pos_ < text_.size() && text_[pos_] == '\'') {
            raw.push_back('\'');
            ++pos_;
            continue;
          }
          break;
        }
        raw.push_back(c);
      }
    } else {
      while (pos_ < text_.size() && !IsSpace(text_[pos_])) raw.push_back(text_[pos_++]);
    }
    return Replace(raw, token);
  }

  // The registrar's replacement step: "%%" is one percent sign; any other
  // percent sign would start a replacement variable, and there are none.
  bool Replace(const std::string& raw, Token* token) {
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '%') {
        token->text.push_back(raw[i]);
      } else if (i + 1 < raw.size() && raw[i + 1] == '%') {
        token->text.push_back('%');
        ++i;
      } else {
        return Fail(token->line, "replacement variables are not supported (write a percent "
                                 "sign as %%): " + raw);
      }
    }
    return true;
  }

  bool Peek(Token* token) {
    if (!has_peeked_) {
      if (!Next(&peeked_)) return false;
      has_peeked_ = true;
    }
    *token = peeked_;
    return true;
  }

  bool Fail(int line, const std::string& reason) {
    if (!failed_) *error_ = "line " + std::to_string(line) + ": " + reason;
    failed_ = true;
    return false;
  }

  bool FailAtEnd(const std::string& reason) {
    return failed_ ? false : Fail(line_, reason + " before the end of the script");
  }

  bool Expect(const char* what, const std::string& where) {
    Token token;
    if (!Next(&token)) return FailAtEnd(std::string("expected '") + what + "' " + where);
    if (token.quoted || token.text != what) {
      return Fail(token.line, std::string("expected '") + what + "' " + where + ", found '" +
                                  token.text + "'");
    }
    return true;
  }

  bool RootError(const Token& token) {
    static const char* const kOtherRoots[] = {
        "HKCR", "HKCU", "HKU", "HKCC", "HKPD", "HKDD", "HKEY_CLASSES_ROOT",
        "HKEY_CURRENT_USER", "HKEY_USERS", "HKEY_CURRENT_CONFIG", "HKEY_PERFORMANCE_DATA",
        "HKEY_DYN_DATA"};
    for (const char* root : kOtherRoots) {
      if (!token.quoted && EqualsNoCase(token.text, root)) {
        return Fail(token.line, "root key " + token.text +
                                    " is not supported: only HKLM (HKEY_LOCAL_MACHINE) is");
      }
    }
    return Fail(token.line, "expected a root key (HKLM), found '" + token.text + "'");
  }

  // The contents of a block up to its closing brace: keys, and when `values`
  // is given (inside a key), val lines.
  bool ParseBody(std::vector<ScriptKey>* keys, std::vector<ScriptValue>* values, int depth) {
    Token token;
    for (;;) {
      if (!Next(&token)) return FailAtEnd("expected '}'");
      if (!token.quoted && token.text == "}") return true;
      if (!token.quoted && token.text == "{") {
        return Fail(token.line, "a block must follow a key name");
      }
      if (!token.quoted && token.text == "=") {
        return Fail(token.line, "'=' must follow a value name after val");
      }
      if (!token.quoted && EqualsNoCase(token.text, "val")) {
        if (values == nullptr) {
          return Fail(token.line, "values cannot be set directly under HKLM");
        }
        ScriptValue value;
        if (!ParseValue(&value)) return false;
        values->push_back(std::move(value));
        continue;
      }
      for (const char* marker : {"NoRemove", "ForceRemove", "Delete"}) {
        if (!token.quoted && EqualsNoCase(token.text, marker)) {
          return Fail(token.line, std::string("the marker ") + marker + " is not supported");
        }
      }
      ScriptKey key;
      if (!ParseKey(token, &key, depth)) return false;
      keys->push_back(std::move(key));
    }
  }

  bool ParseKey(const Token& name, ScriptKey* key, int depth) {
    if (name.text.empty()) return Fail(name.line, "a key name is empty");
    if (name.text.find('\\') != std::string::npos) {
      return Fail(name.line, "key name '" + name.text +
                                 "' contains a backslash: nest the keys in braces instead");
    }
    if (name.text.size() > kMaxKeyNameLength) {
      return Fail(name.line, "a key name is longer than 255 characters");
    }
    key->name = name.text;
    Token next;
    if (!Peek(&next)) return !failed_;  // a last key without a block
    if (!next.quoted && next.text == "=") {
      return Fail(next.line, "a key's default value is not supported (key '" + name.text + "')");
    }
    if (next.quoted || next.text != "{") return true;
    Next(&next);
    if (depth >= kMaxDepth) {
      return Fail(next.line, "keys are nested deeper than " + std::to_string(kMaxDepth));
    }
    return ParseBody(&key->subkeys, &key->values, depth + 1);
  }

  // After "val": NAME = TYPE DATA.
  bool ParseValue(ScriptValue* value) {
    Token name;
    if (!Next(&name)) return FailAtEnd("expected a value name after val");
    if (!name.quoted && (name.text == "{" || name.text == "}" || name.text == "=")) {
      return Fail(name.line, "expected a value name after val, found '" + name.text + "'");
    }
    if (name.text.size() > kMaxValueNameLength) {
      return Fail(name.line, "a value name is longer than 16383 characters");
    }
    value->name = name.text;
    const std::string where = "after value name '" + name.text + "'";
    if (!Expect("=", where)) return false;
    Token type;
    if (!Next(&type)) return FailAtEnd("expected a value type " + where);
    Token data;
    if (!Next(&data)) return FailAtEnd("expected the data of value '" + name.text + "'");
    if (!data.quoted && (data.text == "{" || data.text == "}" || data.text == "=")) {
      return Fail(data.line, "expected the data of value '" + name.text + "', found '" +
                                 data.text + "'");
    }
    if (type.quoted || type.text.size() != 1) {
      return Fail(type.line, "expected a value type (s, d or b) " + where + ", found '" +
                                 type.text + "'");
    }
    switch (type.text[0]) {
      case 's':
      case 'S':
        value->type = platform::kRegSz;
        value->data.assign(data.text.begin(), data.text.end());
        value->data.push_back(0);
        return true;
      case 'd':
      case 'D':
        value->type = platform::kRegDword;
        return ParseDword(data, value);
      case 'b':
      case 'B':
        value->type = platform::kRegBinary;
        return ParseBinary(data, value);
      default:
        return Fail(type.line, "value type '" + type.text +
                                   "' is not supported (s, d and b are) " + where);
    }
  }

  bool ParseDword(const Token& data, ScriptValue* value) {
    const std::string& text = data.text;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const unsigned base = hex ? 16 : 10;
    uint64_t number = 0;
    bool ok = !text.empty();
    for (size_t i = hex ? 2 : 0; ok && i < text.size(); ++i) {
      const char c = text[i];
      unsigned digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        ok = false;
        break;
      }
      number = number * base + digit;
      if (number > 0xFFFFFFFFu) ok = false;
    }
    if (!ok) {
      return Fail(data.line, "'" + text + "' is not a 32-bit number (decimal or 0x hexadecimal)");
    }
    for (int shift = 0; shift < 32; shift += 8) {
      value->data.push_back(static_cast<uint8_t>(number >> shift));
    }
    return true;
  }

  bool ParseBinary(const Token& data, ScriptValue* value) {
    const std::string& text = data.text;
    auto nibble = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'a' && c <= 'f') return c - 'a' + 10;
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    if (text.size() % 2 != 0) {
      return Fail(data.line, "binary data '" + text + "' has an odd number of digits");
    }
    for (size_t i = 0; i < text.size(); i += 2) {
      const int high = nibble(text[i]);
      const int low = nibble(text[i + 1]);
      if (high < 0 || low < 0) {
        return Fail(data.line, "binary data '" + text + "' is not hexadecimal digit pairs");
      }
      value->data.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
  }

  const std::string& text_;
  std::string* error_;
  size_t pos_ = 0;
  int line_ = 1;
  bool failed_ = false;
  bool has_peeked_ = false;
  Token peeked_;
};

}  // namespace

bool ParseRegistrationScript(const std::string& text, RegistrationScript* script,
                             std::string* error) {
  RegistrationScript parsed;
  std::string reason;
  Parser parser(text, &reason);
  if (!parser.Parse(&parsed)) {
    *script = RegistrationScript();
    if (error != nullptr) *error = reason;
    return false;
  }
  *script = std::move(parsed);
  return true;
}

}  // namespace wendrel
