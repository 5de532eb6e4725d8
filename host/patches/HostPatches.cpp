#include "HostPatches.hpp"

#include "ImageSource.hpp"
#include "Overlay.hpp"
#include "Pulse.hpp"

namespace cvcomp {

void registerHostPatches(QCNodeManager& manager) {
  manager.registerNodeWithClass(PatchClass::of<ImageSource>());
  manager.registerNodeWithClass(PatchClass::of<Pulse>());
  manager.registerNodeWithClass(PatchClass::of<Overlay>());
}

}  // namespace cvcomp
