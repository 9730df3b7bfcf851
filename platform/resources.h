// The resources port: string-table texts from the current resource module.
//
// The current resource module is the extension itself until a language
// module is made current (the start of a login may load one); every text is
// loaded from whichever module is current at that moment. On Windows a module
// is an HMODULE and texts come from its STRINGTABLE through LoadStringA.
// Natively the extension's own table is compiled in, and a language module is
// a file holding texts under the same ids.

#ifndef WENDREL_PLATFORM_RESOURCES_H_
#define WENDREL_PLATFORM_RESOURCES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace wendrel {
namespace platform {

// An opaque module handle; null stands for the extension's own module.
using ResourceModule = void*;

// The module texts are loaded from now on (null: the extension's own), and
// the current one.
void SetCurrentResourceModule(ResourceModule module);
ResourceModule CurrentResourceModule();

// The module handle of the extension's own code (the DLL, or the executable
// the extension is linked into). What self-registration and the dialog use.
ResourceModule OwnModule();

// LoadStringA: copies text `id` of the current module into `buffer` as ANSI,
// cut to capacity - 1 bytes and terminated. Returns the number of bytes
// copied; 0, with buffer[0] = 0, when the module holds no such id.
size_t LoadResourceString(uint32_t id, char* buffer, size_t capacity);

// The same into a string, through a buffer of 512 bytes as the extension's
// callers use. Empty when the id is missing.
std::string LoadResourceString(uint32_t id);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_RESOURCES_H_
