// RegQueryValueExA in one round trip to the registry.
//
// advapi32's RegQueryValueExA first asks the registry for the value with a
// buffer of its own of 256 bytes, and asks again when the value does not fit
// in it. Strings are kept in UTF-16, twice their ANSI length, so every
// string of more than about 120 characters costs two round trips (under
// Wine, two requests to its server): the results cache's 260-byte values
// among them. This asks once, with a buffer that holds anything that can fit
// the caller's (and never a smaller one than advapi32's), and converts as
// RegQueryValueExA does.

#ifndef WENDREL_PLATFORM_WIN32_REGISTRY_QUERY_WIN32_H_
#define WENDREL_PLATFORM_WIN32_REGISTRY_QUERY_WIN32_H_

#include <windows.h>

namespace wendrel {
namespace platform {

// RegQueryValueExA(key, name, nullptr, type, data, size) with the same
// results: the type, the data (strings converted to the ANSI code page, a
// terminator added when the data lack one and the buffer has room), the
// size, ERROR_MORE_DATA with the needed size and the buffer left as it was.
// `key` is an opened key, not a predefined one.
LONG QueryValueOnce(HKEY key, const char* name, DWORD* type, BYTE* data, DWORD* size);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_WIN32_REGISTRY_QUERY_WIN32_H_
