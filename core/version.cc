#include "core/version.h"

#include "resources/version_number.h"

namespace wendrel {

const char* Version() { return WENDREL_VERSION_TEXT; }

}  // namespace wendrel
