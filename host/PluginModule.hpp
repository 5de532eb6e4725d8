#pragma once

#include <filesystem>

#include "QCNodeManager.hpp"

namespace cvcomp {

// The one symbol a plug-in module exports: called once with the host's node manager.
inline constexpr const char* kPluginEntryPoint = "cvcompRegisterNodesWithManager";
using PluginEntryPoint = void (*)(QCNodeManager* manager);

// Loads the module at `path` and calls its entry point. The module stays loaded for the rest of
// the process, since the classes it registered create patches from its code. Throws
// std::runtime_error naming the module when it cannot be loaded or has no entry point.
void loadPluginModule(const std::filesystem::path& path, QCNodeManager& manager);

}  // namespace cvcomp
