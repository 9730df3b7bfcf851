// The environment port: process environment and temporary files.

#ifndef WENDREL_PLATFORM_ENVIRONMENT_H_
#define WENDREL_PLATFORM_ENVIRONMENT_H_

#include <cstdint>
#include <string>

namespace wendrel {
namespace platform {

// The value of an environment variable; empty when it is unset.
std::string GetEnvironmentVariable(const std::string& name);

// Sets (or, with an empty value, removes) an environment variable of this
// process.
void SetEnvironmentVariable(const std::string& name, const std::string& value);

// A directory for temporary files, without a trailing separator.
std::string TemporaryDirectory();

// Deletes a file; false when it could not be deleted (a missing file is not
// an error).
bool RemoveFile(const std::string& path);

uint32_t CurrentProcessId();

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_ENVIRONMENT_H_
