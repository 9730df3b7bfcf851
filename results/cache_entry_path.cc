#include "results/cache_entry_path.h"

#include <string_view>
#include <utility>

#include "config/registry_paths.h"
#include "platform/codepage.h"

namespace wendrel {
namespace {

// The name is converted into a zero-filled buffer of 261 units: at most 260
// of them carry the name, the last one is always its terminator.
constexpr size_t kNameUnits = 260;

bool HoldsBackslash(std::u16string_view text) {
  return text.find(u'\\') != std::u16string_view::npos;
}

}  // namespace

bool CacheNamePart(const std::string& name, std::string* part) {
  std::u16string wide = platform::Utf8ToUtf16(name);
  // The name as a terminated text: what comes after a zero unit is not
  // part of it.
  size_t zero = wide.find(u'\0');
  if (zero != std::u16string::npos) wide.resize(zero);
  wide = std::u16string(platform::TruncateUtf16(wide, kNameUnits));
  for (char16_t& c : wide) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  if (wide.empty() || HoldsBackslash(wide)) return false;
  // The registry's narrow calls read the path in the ANSI code page; a name
  // that does not come back unchanged from it would be written with '?'.
  std::string ansi = platform::Utf16ToAnsi(wide);
  if (platform::AnsiToUtf16(ansi) != wide) return false;
  *part = std::move(ansi);
  return true;
}

bool FormatCacheEntryPath(const std::string& name, const std::string& tree, bool treeless,
                          std::string* path) {
  const std::string tree_part = treeless ? std::string(kTreelessCacheTree) : tree;
  // The tree is ANSI text; its backslash is looked for as a character, not as
  // a byte, since 0x5C is a trail byte in some double-byte code pages.
  if (tree_part.empty() || HoldsBackslash(platform::AnsiToUtf16(tree_part))) return false;
  std::string name_part;
  if (!CacheNamePart(name, &name_part)) return false;
  *path = std::string(kCachedResultsKeyPath) + "\\" + tree_part + "\\" + name_part;
  return true;
}

}  // namespace wendrel
