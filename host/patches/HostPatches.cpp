#include "HostPatches.hpp"

#include "ImageSource.hpp"
#include "Overlay.hpp"
#include "Pulse.hpp"

namespace cvcomp {

void registerHostPatches(QCNodeManager& manager) {
  manager.registerNodeWithClass(PatchClass::of<ImageSource>(
      "host patches",
      "Gives the frames of a video, a picture, a folder, a camera or a test scene"));
  manager.registerNodeWithClass(PatchClass::of<Pulse>(
      "host patches", "Gives a boolean signal that is true on chosen or periodic frames"));
  manager.registerNodeWithClass(PatchClass::of<Overlay>(
      "host patches", "Draws the rectangles, lines and points of a structure onto a picture"));
}

}  // namespace cvcomp
