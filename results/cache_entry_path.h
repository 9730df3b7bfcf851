// The registry path of a results-cache entry:
// Software\Tarvos\LDAP\CachedResults\<tree part>\<name part>.

#ifndef WENDREL_RESULTS_CACHE_ENTRY_PATH_H_
#define WENDREL_RESULTS_CACHE_ENTRY_PATH_H_

#include <string>

namespace wendrel {

// The tree part in treeless login: users of every tree share it.
constexpr char kTreelessCacheTree[] = "+.TreeLess";

// The name part of `name` (UTF-8): its first 260 UTF-16 units (a surrogate
// pair is never split; the name ends at a zero unit), the letters a-z turned
// into A-Z and nothing else changed, written in the ANSI code page, as the
// narrow registry calls take it. Two names that differ only in the case of
// a-z thus share an entry.
//
// False when the name has no safe key name:
// - it is empty (the path would name the tree key itself);
// - it holds a backslash (the path would go one level deeper, into a key
//   another name's entry may own);
// - a character cannot be written in the ANSI code page exactly: the
//   conversion would put '?' in its place, and names such as two Cyrillic
//   ones of the same length would then share one entry and hand each other
//   their cached users. Such names are not cached; they are searched every
//   time.
bool CacheNamePart(const std::string& name, std::string* part);

// The whole path for `name` and `tree`, with kTreelessCacheTree in place of
// the tree when `treeless` is set; the tree is used as given (not
// upper-cased). False when CacheNamePart refuses the name, or when the tree
// part would not be exactly one key: an empty tree (the path would hold
// "\\" and the name would land below CachedResults), or one holding a
// backslash (one level deeper).
bool FormatCacheEntryPath(const std::string& name, const std::string& tree, bool treeless,
                          std::string* path);

}  // namespace wendrel

#endif  // WENDREL_RESULTS_CACHE_ENTRY_PATH_H_
