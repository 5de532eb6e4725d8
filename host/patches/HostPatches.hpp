#pragma once

#include "host/QCNodeManager.hpp"

namespace cvcomp {

// Registers the host's own patches: ImageSource, Pulse and Overlay.
void registerHostPatches(QCNodeManager& manager);

}  // namespace cvcomp
