#pragma once

#include <filesystem>

#include "host/QCNodeManager.hpp"

namespace cvcomp {

// The plug-in module to load: $CVCOMP_PLUGIN when set, otherwise lib/cvcomp_opencv.so next to
// the folder of the running program (the build tree's and the install layout).
std::filesystem::path pluginModulePath();

// Registers the host's patches and loads the plug-in module. Throws std::runtime_error.
void registerAllNodes(QCNodeManager& manager);

}  // namespace cvcomp
