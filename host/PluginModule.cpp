#include "PluginModule.hpp"

#include <dlfcn.h>

#include <stdexcept>
#include <string>

namespace cvcomp {

void loadPluginModule(const std::filesystem::path& path, QCNodeManager& manager) {
  // Functions are bound at their first call. Binding them all now would bind every function of
  // the libraries the module brings in too (protobuf, for OpenCV's dnn, which objdetect needs):
  // some 2,400 that no run calls, 29 million instructions and about 6 ms of processor time on
  // every start. The module is linked with no undefined symbol, so each function it calls exists.
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_LOCAL);
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
