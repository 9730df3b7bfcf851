// A small streaming JSON writer: it places the commas and colons, escapes
// strings, and keeps the output valid JSON whatever bytes a string holds.

#ifndef WENDREL_TOOLS_WENDREL_DOCTOR_JSON_WRITER_H_
#define WENDREL_TOOLS_WENDREL_DOCTOR_JSON_WRITER_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace wendrel {
namespace doctor {

class JsonWriter {
 public:
  explicit JsonWriter(std::ostream* out) : out_(out) {}

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The member name of the next value, inside an object.
  void Key(const std::string& name);

  // `utf8` is written as a JSON string; bytes that are not valid UTF-8 become
  // U+FFFD, so the document stays valid.
  void String(const std::string& utf8);
  void Int(int64_t value);
  void Bool(bool value);
  void Null();

 private:
  void BeforeValue();

  std::ostream* out_;
  std::vector<bool> has_member_;  // per open container: something written yet
  bool after_key_ = false;
};

// `utf8` as a quoted, escaped JSON string.
std::string JsonQuote(const std::string& utf8);

}  // namespace doctor
}  // namespace wendrel

#endif  // WENDREL_TOOLS_WENDREL_DOCTOR_JSON_WRITER_H_
