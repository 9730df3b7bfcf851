// Runs the built wendrel-doctor as an administrator would, for the doctor's
// tests: natively, and under Wine as the Windows program it is.

#ifndef WENDREL_TESTS_INTEGRATION_SEARCH_DOCTOR_RUNNER_H_
#define WENDREL_TESTS_INTEGRATION_SEARCH_DOCTOR_RUNNER_H_

#include <string>

namespace wendrel {
namespace testing {

// The doctor's standard output for `args`, CR LF read as LF (the Windows
// doctor writes in text mode); its exit status in *status when given.
std::string RunDoctor(const std::string& args, int* status = nullptr);

}  // namespace testing
}  // namespace wendrel

#endif  // WENDREL_TESTS_INTEGRATION_SEARCH_DOCTOR_RUNNER_H_
