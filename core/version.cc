#include "core/version.h"

namespace wendrel {

const char* Version() { return "0.1.0"; }

}  // namespace wendrel
