// Resource-language library stand-in: ZelLoadResourceFile chooses the
// language resource module for a library. Here the choice is the module
// named by $WENDREL_LANGUAGE_MODULE (a resource DLL on Windows, a language
// file of the same string ids natively), when it exists; else none, and the
// library's own resources serve.

#ifndef WENDREL_STANDINS_RESOURCE_LANGUAGE_H_
#define WENDREL_STANDINS_RESOURCE_LANGUAGE_H_

#include "platform/resources.h"

namespace wendrel {

constexpr char kLanguageModuleVariable[] = "WENDREL_LANGUAGE_MODULE";

// A loaded language module (release with platform::FreeLanguageModule), or
// null. `instance` is the library the texts are for; every library gets the
// same choice here.
platform::ResourceModule ZelLoadResourceFile(platform::ResourceModule instance);

}  // namespace wendrel

#endif  // WENDREL_STANDINS_RESOURCE_LANGUAGE_H_
