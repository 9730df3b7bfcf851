#include "tests/unit/support/test_language.h"

#include <fstream>

#include "platform/environment.h"

namespace wendrel {
namespace testing {
namespace {

struct Entry {
  uint32_t id;
  const char* text;
};

[[maybe_unused]] constexpr Entry kEntries[] = {
#define TEST_LANGUAGE_STRING(id, text) {id, text},
#include "tests/unit/platform/test_language.def"
#undef TEST_LANGUAGE_STRING
};

[[maybe_unused]] std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\\' ? "\\\\" : std::string(1, c);
  }
  return out;
}

}  // namespace

std::string WriteLanguageFile(const std::string& name, const std::string& contents) {
  const std::string path = platform::TemporaryDirectory() + "/wendrel-" + name + "-" +
                           std::to_string(platform::CurrentProcessId()) + ".txt";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
  return path;
}

ScopedTestLanguage::ScopedTestLanguage() {
#ifdef _WIN32
  // Built beside the test programs, so the application directory finds it.
  module_ = platform::LoadLanguageModule("wendrel_test_language.dll", &error_);
#else
  std::string contents = "# test language module\n";
  for (const Entry& entry : kEntries) {
    contents += std::to_string(entry.id) + "\t" + Escape(entry.text) + "\n";
  }
  const std::string path = WriteLanguageFile("test-language", contents);
  module_ = platform::LoadLanguageModule(path, &error_);
  platform::RemoveFile(path);
#endif
  if (module_ != nullptr) platform::SetCurrentResourceModule(module_);
}

ScopedTestLanguage::~ScopedTestLanguage() {
  platform::SetCurrentResourceModule(nullptr);
  platform::FreeLanguageModule(module_);
}

}  // namespace testing
}  // namespace wendrel
