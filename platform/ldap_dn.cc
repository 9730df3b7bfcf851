#include "platform/ldap_dn.h"

#include <cctype>
#include <utility>

namespace wendrel {
namespace platform {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSpace(char c) { return c == ' '; }

// Appends the value as RFC 4514 writes it: specials escaped, and a leading
// '#' or space and a trailing space escaped.
void AppendEscapedValue(const std::string& v, std::string* out) {
  for (size_t i = 0; i < v.size(); ++i) {
    char c = v[i];
    bool special = c == '"' || c == '+' || c == ',' || c == ';' || c == '<' || c == '>' ||
                   c == '\\' || c == '=';
    bool edge = (i == 0 && (c == '#' || c == ' ')) || (i + 1 == v.size() && c == ' ');
    if (special || edge) out->push_back('\\');
    out->push_back(c);
  }
}

class Parser {
 public:
  explicit Parser(std::string_view dn) : s_(dn) {}

  // Fills either list or both (null: not wanted) in one pass.
  bool Parse(std::vector<std::string>* values, std::vector<std::string>* typed) {
    SkipSpaces();
    if (pos_ == s_.size()) return true;  // the empty DN
    std::string type, value;
    while (true) {
      std::string value_rdn, typed_rdn;
      while (true) {
        type.clear();
        value.clear();
        bool hex_form = false;
        if (!ParseType(&type) || !ParseValue(&value, &hex_form)) return false;
        if (values != nullptr) {
          if (!value_rdn.empty()) value_rdn += '+';
          value_rdn += value;
        }
        if (typed != nullptr) {
          if (!typed_rdn.empty()) typed_rdn += '+';
          typed_rdn += type;
          typed_rdn += '=';
          if (hex_form) {
            typed_rdn += value;
          } else {
            AppendEscapedValue(value, &typed_rdn);
          }
        }
        if (pos_ < s_.size() && s_[pos_] == '+') {
          ++pos_;
          continue;
        }
        break;
      }
      if (values != nullptr) values->push_back(std::move(value_rdn));
      if (typed != nullptr) typed->push_back(std::move(typed_rdn));
      if (pos_ == s_.size()) return true;
      if (s_[pos_] != ',' && s_[pos_] != ';') return false;
      ++pos_;
    }
  }

 private:
  void SkipSpaces() {
    while (pos_ < s_.size() && IsSpace(s_[pos_])) ++pos_;
  }

  bool ParseType(std::string* type) {
    SkipSpaces();
    size_t start = pos_;
    while (pos_ < s_.size() &&
           (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '-' ||
            s_[pos_] == '.')) {
      ++pos_;
    }
    if (pos_ == start) return false;
    type->assign(s_, start, pos_ - start);
    SkipSpaces();
    if (pos_ >= s_.size() || s_[pos_] != '=') return false;
    ++pos_;
    SkipSpaces();
    return true;
  }

  // Reads up to the next unescaped ',', ';' or '+' (or the end).
  bool ParseValue(std::string* value, bool* hex_form) {
    if (pos_ < s_.size() && s_[pos_] == '#') {  // BER-encoded value: kept as written
      size_t start = pos_++;
      while (pos_ < s_.size() && HexDigit(s_[pos_]) >= 0) ++pos_;
      *value = s_.substr(start, pos_ - start);
      *hex_form = true;
      SkipSpaces();
      return value->size() > 1 && value->size() % 2 == 1;
    }
    if (pos_ < s_.size() && s_[pos_] == '"') {  // RFC 1779 quoted value
      ++pos_;
      while (pos_ < s_.size() && s_[pos_] != '"') {
        if (s_[pos_] != '\\') {
          value->push_back(s_[pos_++]);
        } else if (!Escape(value)) {
          return false;
        }
      }
      if (pos_ >= s_.size()) return false;
      ++pos_;
      SkipSpaces();
      return true;
    }
    size_t keep = 0;  // length up to the last escaped or non-space character
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == ',' || c == ';' || c == '+') break;
      if (c == '"' || c == '=') return false;
      if (c == '\\') {
        if (!Escape(value)) return false;
        keep = value->size();
      } else {
        value->push_back(c);
        ++pos_;
        if (!IsSpace(c)) keep = value->size();
      }
    }
    value->resize(keep);
    return true;
  }

  // At a backslash: appends the escaped character or hex pair.
  bool Escape(std::string* value) {
    ++pos_;
    if (pos_ >= s_.size()) return false;
    int hi = HexDigit(s_[pos_]);
    if (hi >= 0 && pos_ + 1 < s_.size() && HexDigit(s_[pos_ + 1]) >= 0) {
      value->push_back(static_cast<char>(hi * 16 + HexDigit(s_[pos_ + 1])));
      pos_ += 2;
      return true;
    }
    value->push_back(s_[pos_++]);
    return true;
  }

  const std::string_view s_;
  size_t pos_ = 0;
};

}  // namespace

bool ExplodeDn(std::string_view dn, bool notypes, std::vector<std::string>* rdns) {
  rdns->clear();
  Parser parser(dn);
  if (!parser.Parse(notypes ? rdns : nullptr, notypes ? nullptr : rdns)) {
    rdns->clear();
    return false;
  }
  return true;
}

bool ExplodeDnBothWays(std::string_view dn, std::vector<std::string>* values,
                       std::vector<std::string>* typed) {
  values->clear();
  typed->clear();
  Parser parser(dn);
  if (!parser.Parse(values, typed)) {
    values->clear();
    typed->clear();
    return false;
  }
  return true;
}

}  // namespace platform
}  // namespace wendrel
