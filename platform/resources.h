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
#include <vector>

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

// Language modules: what the resource-language library hands out and the
// start of a login makes current. On Windows a module is a resource DLL,
// loaded with LoadLibraryA and released with FreeLibrary. Natively it is a
// text file of the same ids, UTF-8, one entry a line:
//
//   # comment lines and blank lines are ignored
//   21<TAB>Connexion LDAP sans contexte :<SPACE>
//   28<TAB>Utilisateur introuvable sur :\nserveurs
//
// The id is decimal (0 to 65535), then one tab, then the text to the end of
// the line (a CR before the LF is dropped). In the text \n, \t and \\ stand
// for a newline, a tab and a backslash; any other backslash is an error, as
// are a missing tab, a repeated id and text that is not UTF-8. A module
// supplies only its own ids: an id it lacks loads as the empty text, as
// LoadStringA does with a resource DLL that lacks it.
//
// LoadLanguageModule returns null, with the reason in *error (when error is
// not null), when the module cannot be loaded; nothing else changes then.
ResourceModule LoadLanguageModule(const std::string& path, std::string* error);

// Releases a module from LoadLanguageModule (null is ignored). A module that
// is current stops being current first, so texts never come from a released
// module.
void FreeLanguageModule(ResourceModule module);

// LoadStringA: copies text `id` of the current module into `buffer` as ANSI,
// cut to capacity - 1 bytes and terminated. Returns the number of bytes
// copied; 0, with buffer[0] = 0, when the module holds no such id.
size_t LoadResourceString(uint32_t id, char* buffer, size_t capacity);

// The same into a string, through a buffer of 512 bytes as the extension's
// callers use. Empty when the id is missing.
std::string LoadResourceString(uint32_t id);

// Win32 errors LoadCustomResource reports besides those of the module lookup.
constexpr int32_t kResourceTypeNotFound = 1813;  // ERROR_RESOURCE_TYPE_NOT_FOUND
constexpr int32_t kResourceNameNotFound = 1814;  // ERROR_RESOURCE_NAME_NOT_FOUND

// The raw bytes of the custom resource `type` (a name such as "REGISTRY") and
// `id` carried by the file of `module` (null: OwnModule()). On Windows the
// module's file path is taken with GetModuleFileNameW (at most 260
// characters), that file is loaded as a data file, and the bytes come from
// FindResourceA, LoadResource, LockResource and SizeofResource: the way the
// template library's registrar finds its script, so a resource DLL on disk is
// what counts, not what some other code mapped. Natively the extension's own
// custom resources are compiled in (resources/CMakeLists.txt); a language
// module carries none.
//
// Returns 0 with *bytes filled, or a Win32 error with *bytes emptied.
int32_t LoadCustomResource(ResourceModule module, const char* type, uint32_t id,
                           std::vector<uint8_t>* bytes);

}  // namespace platform
}  // namespace wendrel

#endif  // WENDREL_PLATFORM_RESOURCES_H_
