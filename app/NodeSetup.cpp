#include "NodeSetup.hpp"

#include <cstdlib>

#include "host/PluginModule.hpp"
#include "host/patches/HostPatches.hpp"

namespace cvcomp {

std::filesystem::path pluginModulePath() {
  if (const char* path = std::getenv("CVCOMP_PLUGIN"); path && *path) return path;
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return program.parent_path().parent_path() / "lib" / "cvcomp_opencv.so";
}

void registerAllNodes(QCNodeManager& manager) {
  registerHostPatches(manager);
  loadPluginModule(pluginModulePath(), manager);
}

}  // namespace cvcomp
