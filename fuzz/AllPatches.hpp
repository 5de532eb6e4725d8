#pragma once

// The host's patches and the plug-in's, registered once for a fuzz target's whole run.

#include "host/QCNodeManager.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp::fuzz {

inline const QCNodeManager& allPatches() {
  static const QCNodeManager registered = [] {
    QCNodeManager all;
    registerHostPatches(all);
    OpenCVPlugin::registerNodesWithManager(all);
    return all;
  }();
  return registered;
}

}  // namespace cvcomp::fuzz
