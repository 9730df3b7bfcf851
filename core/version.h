#ifndef WENDREL_CORE_VERSION_H_
#define WENDREL_CORE_VERSION_H_

namespace wendrel {

// The extension's version, as the tools report it.
const char* Version();

}  // namespace wendrel

#endif  // WENDREL_CORE_VERSION_H_
