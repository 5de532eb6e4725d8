#include "HostPatches.hpp"

#include "ImageSource.hpp"
#include "Overlay.hpp"
#include "Pulse.hpp"

namespace cvcomp {

void registerHostPatches(QCNodeManager& manager) {
  manager.registerNodeWithClass(PatchClass::of<ImageSource>(
      "host patches", "Gives the frames of a video, a picture, a folder, a camera or a test scene",
      {{"inputPath",
        "A video, a picture or a folder of pictures (relative to the composition file), "
        "camera:N, or pattern:WxH for the generated test scene"},
       {"outputImage",
        "This frame as a host picture; nil once the source has no more frames or cannot be "
        "opened"}}));
  manager.registerNodeWithClass(PatchClass::of<Pulse>(
      "host patches", "Gives a boolean signal that is true on chosen or periodic frames",
      {{"inputFrames", "Frame numbers, from 0, on which the signal is true: \"0,100,200\""},
       {"inputPeriod", "Also true on every frame whose number is a multiple of this; 0: never"},
       {"outputSignal", "True on the listed and periodic frames, false on the others"}}));
  manager.registerNodeWithClass(PatchClass::of<Overlay>(
      "host patches", "Draws the rectangles, lines and points of a structure onto a picture",
      {{"inputImage", "Picture to draw on; without one the output is nil"},
       {"inputStructure",
        "Results whose members hold X, Y, W, H (rectangles), X1, Y1, X2, Y2 (segments) or X, Y "
        "(points, with a line from pX, pY), in centred units: 0 at the picture's centre, 1 half "
        "its width"},
       {"outputImage",
        "A copy of the picture with the shapes drawn; the picture itself when there is nothing "
        "to draw"}}));
}

}  // namespace cvcomp
