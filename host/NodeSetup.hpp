#pragma once

#include "host/QCNodeManager.hpp"

namespace cvcomp {

// Registers the host's patches and loads the OpenCV plug-in module (pluginModulePath()). Throws
// std::runtime_error naming the module when it cannot be loaded.
void registerAllNodes(QCNodeManager& manager);

}  // namespace cvcomp
