// Reading a small file whole, for files an administrator names (certificate
// files): a file larger than the caller's limit is not read into memory.

#ifndef WENDREL_PLATFORM_WHOLE_FILE_H_
#define WENDREL_PLATFORM_WHOLE_FILE_H_

#include <cstddef>
#include <string>

namespace wendrel {
namespace platform {

// The bytes of the file at path. False when it cannot be read, is empty,
// or holds more than max_size bytes.
bool ReadWholeFile(const std::string& path, size_t max_size, std::string* bytes);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_WHOLE_FILE_H_
