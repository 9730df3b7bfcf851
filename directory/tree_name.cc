#include "directory/tree_name.h"

#include <cstring>

#include "platform/codepage.h"

namespace wendrel {
namespace {

constexpr size_t kMaxSteps = 33;

}  // namespace

void RemoveTrailingUnderscores(char* text, size_t size) {
  if (text == nullptr || size == 0) return;
  // Start offsets of the characters walked over, so that a step back lands
  // on the start of a double-byte character.
  size_t starts[kMaxSteps + 1];
  size_t count = 0;
  size_t pos = 0;
  bool at_end = false;
  while (pos < size) {
    if (text[pos] == '\0') {
      at_end = true;
      break;
    }
    if (count == kMaxSteps) break;
    size_t length = platform::AnsiCharLength(text + pos);
    if (length == 0) length = 1;
    if (pos + length >= size) break;  // the character runs to the end of the buffer
    starts[count++] = pos;
    pos += length;
  }
  if (at_end) {
    if (count == 0) return;  // empty text
    pos = starts[--count];   // back onto the last character
  } else if (pos >= size) {
    return;  // no character to stand on inside the buffer
  } else {
    starts[count] = pos;  // stay on the character reached
  }
  for (;;) {
    if (text[pos] != '_') return;
    text[pos] = '\0';
    if (count == 0) return;  // stepping back from the first character stays on it
    pos = starts[--count];
  }
}

void CopyTreeName(const char* source, char* target, size_t capacity) {
  if (target == nullptr || capacity == 0) return;
  size_t pos = 0;
  while (source != nullptr && source[pos] != '\0') {
    size_t length = platform::AnsiCharLength(source + pos);
    if (length == 0) length = 1;
    if (pos + length > capacity - 1) break;
    pos += length;
  }
  if (pos > 0) std::memcpy(target, source, pos);
  target[pos] = '\0';
}

}  // namespace wendrel
