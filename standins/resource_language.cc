#include "standins/resource_language.h"

#include <string>

#include "platform/environment.h"
#include "platform/trace.h"

namespace wendrel {

platform::ResourceModule ZelLoadResourceFile(platform::ResourceModule instance) {
  std::string path = platform::GetEnvironmentVariable(kLanguageModuleVariable);
  if (path.empty()) return nullptr;
  std::string error;
  platform::ResourceModule module = platform::LoadLanguageModule(path, &error);
  if (module == nullptr) platform::Trace("no language module: %s\n", error.c_str());
  return module;
}

}  // namespace wendrel
