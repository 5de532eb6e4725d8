// The entry point of the loadable plug-in module: the only symbol the module exports.

#include "OpenCVPlugin.hpp"
#include "host/PluginModule.hpp"

extern "C" __attribute__((visibility("default"))) void cvcompRegisterNodesWithManager(
    cvcomp::QCNodeManager* manager) {
  if (manager) cvcomp::OpenCVPlugin::registerNodesWithManager(*manager);
}
