#include "PluginModule.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace cvcomp {

void loadPluginModule(const std::filesystem::path& path, QCNodeManager& manager) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    throw std::runtime_error("cannot load plug-in module " + path.string() + ": " + dlerror());
  }
  auto entry = reinterpret_cast<PluginEntryPoint>(dlsym(handle, kPluginEntryPoint));
  if (!entry) {
    dlclose(handle);
    throw std::runtime_error("plug-in module " + path.string() + " has no entry point " +
                             kPluginEntryPoint);
  }
  entry(&manager);
}

}  // namespace cvcomp
