#include "platform/whole_file.h"

#include <fstream>
#include <iterator>

namespace wendrel {
namespace platform {

bool ReadWholeFile(const std::string& path, size_t max_size, std::string* bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size <= 0 || static_cast<unsigned long long>(size) > max_size) return false;
  in.seekg(0);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<std::streamoff>(bytes->size()) == size;
}

}  // namespace platform
}  // namespace wendrel
