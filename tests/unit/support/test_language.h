// The language module of tests/unit/platform/test_language.def as each system
// loads one: a resource DLL on Windows, a language-module text file natively.

#ifndef WENDREL_TESTS_UNIT_SUPPORT_TEST_LANGUAGE_H_
#define WENDREL_TESTS_UNIT_SUPPORT_TEST_LANGUAGE_H_

#include <cstdint>
#include <string>

#include "platform/resources.h"

namespace wendrel {
namespace testing {

// Writes `contents` to a file in the temporary directory; returns its path.
std::string WriteLanguageFile(const std::string& name, const std::string& contents);

// The test language module, current for the object's lifetime.
class ScopedTestLanguage {
 public:
  ScopedTestLanguage();
  ~ScopedTestLanguage();
  ScopedTestLanguage(const ScopedTestLanguage&) = delete;
  ScopedTestLanguage& operator=(const ScopedTestLanguage&) = delete;

  bool loaded() const { return module_ != nullptr; }
  const std::string& error() const { return error_; }
  platform::ResourceModule module() const { return module_; }

 private:
  platform::ResourceModule module_ = nullptr;
  std::string error_;
};

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_UNIT_SUPPORT_TEST_LANGUAGE_H_
