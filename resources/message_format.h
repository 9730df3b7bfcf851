// Filling a string-table text that holds printf directives, without trusting
// it. Texts come from whichever resource module is current, and a language
// module may carry directives its translator got wrong (%s where %x belongs,
// %n, two directives for one argument). Handing such a text to printf would
// read arguments that were never passed; these functions never do.

#ifndef WENDREL_RESOURCES_MESSAGE_FORMAT_H_
#define WENDREL_RESOURCES_MESSAGE_FORMAT_H_

#include <cstdint>
#include <string>

namespace wendrel {

// "%%" becomes "%". The first integer directive (d i u x X o, with flags "-+
// #0", width and precision of up to three digits each, and any h/l length
// letters, which are ignored) is filled with `value`: d and i print it
// signed, the others as the unsigned 32-bit value (so -1 with %x is
// ffffffff). Every other directive, and any directive after the first, is
// kept literally.
std::string FormatWithInteger(const std::string& format, int32_t value);

// The same for the first %s directive, filled with `text`.
std::string FormatWithText(const std::string& format, const std::string& text);

}  // namespace wendrel

#endif  // WENDREL_RESOURCES_MESSAGE_FORMAT_H_
