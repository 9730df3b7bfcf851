// Tree-name texts as the connection service hands them out: at most 32
// characters of the ANSI code page, padded with underscores, in a 33-byte
// buffer.

#ifndef WENDREL_DIRECTORY_TREE_NAME_H_
#define WENDREL_DIRECTORY_TREE_NAME_H_

#include <cstddef>

namespace wendrel {

// The length of the connection service's tree-name buffer: 32 characters and
// the terminator.
constexpr size_t kTreeInfoLength = 33;

// Removes the underscores that pad the tree name in `text` (`size` bytes).
// The walk to the end counts a double-byte character as one step and takes
// at most 33 steps, as the service's names are never longer; a text with no
// terminator within reach is trimmed from the character reached there.
// Underscores inside the name stay; a text of underscores only becomes
// empty. Nothing at or past `size` is read or written.
void RemoveTrailingUnderscores(char* text, size_t size);

// Copies the terminated `source` into `target` (`capacity` bytes, at least
// 1): as much as fits with the terminator, never half of a double-byte
// character.
void CopyTreeName(const char* source, char* target, size_t capacity);

}  // namespace wendrel

#endif  // WENDREL_DIRECTORY_TREE_NAME_H_
