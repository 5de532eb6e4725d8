#include "NodeSetup.hpp"

#include "host/InstallLayout.hpp"
#include "host/PluginModule.hpp"
#include "host/patches/HostPatches.hpp"

namespace cvcomp {

void registerAllNodes(QCNodeManager& manager) {
  registerHostPatches(manager);
  loadPluginModule(pluginModulePath(), manager);
}

}  // namespace cvcomp
