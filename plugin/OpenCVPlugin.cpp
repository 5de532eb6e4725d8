#include "OpenCVPlugin.hpp"

#include <opencv2/core/utility.hpp>

#include "bridge/OpenCVImageToQCImage.hpp"
#include "bridge/QCImageToOpenCVImage.hpp"
#include "detection/OpenCVHaarDetectObjects.hpp"
#include "detection/OpenCVLoad.hpp"
#include "features/OpenCVCalcOpticalFlowPyrLK.hpp"
#include "features/OpenCVFindChessboardCorners.hpp"
#include "features/OpenCVGoodFeaturesToTrack.hpp"
#include "features/OpenCVHoughLines2.hpp"
#include "filters/OpenCVBGR2Gray.hpp"
#include "filters/OpenCVCanny.hpp"
#include "filters/OpenCVEqualizeHist.hpp"
#include "filters/OpenCVLogPolar.hpp"
#include "filters/OpenCVResize.hpp"

namespace cvcomp {

std::vector<PatchClass> OpenCVPlugin::patchClasses() {
  // In registration order, each with its palette group, what it does and what each port is.
  return {
      PatchClass::of<OpenCVBGR2Gray>(
          "filters", "Converts a colour image to a one-channel gray image",
          {{"inputImage",
            "Colour image of 3 channels (blue, green, red) or 4 (with alpha); other channel "
            "counts or no image give nil"},
           {"outputImage", "One-channel gray image of the input's size and depth"}}),
      PatchClass::of<OpenCVGoodFeaturesToTrack>(
          "features", "Finds the strongest corners of a gray image as a point list",
          {{"inputImage", "One-channel image to search; no image or a colour image gives nil"},
           {"inputMaxPoints", "Most corners listed, strongest first; 0 gives nil"},
           {"inputQuality",
            "Weakest corner kept, as a fraction of the strongest corner's strength"},
           {"inputMinDistance", "Smallest distance between two listed corners, in pixels"},
           {"inputFindSignal",
            "Searches on each frame where it turns on; the list found stays until the next "
            "search"},
           {"outputPoints",
            "Corners \"Point0000\", \"Point0001\", ... each with X and Y in centred units"}}),
      PatchClass::of<OpenCVCalcOpticalFlowPyrLK>(
          "features", "Tracks points from frame to frame with pyramidal Lucas-Kanade optical flow",
          {{"inputImage",
            "One-channel frame to track the points into; colour frames are skipped, no image "
            "forgets the previous frame and gives nil"},
           {"inputPoints",
            "Points to load, \"Point0000\", ... with X and Y in centred units of the previous "
            "frame; a missing point, X or Y reads as 0, the centre"},
           {"inputUseInputPointsSignal",
            "Replaces the tracked points by the input points on each frame where it turns on"},
           {"inputAddInputPointsSignal",
            "Adds the input points after the tracked ones on each frame where it turns on"},
           {"inputWindowSize",
            "Half-size s of the search window, which is 2s + 1 pixels square; raised to at "
            "least 2"},
           {"inputMaxIterations", "Most search steps for a point on each pyramid level"},
           {"inputEpsilon",
            "A point's search stops once a step moves it less than this, in pixels"},
           {"inputExcludeNaNs",
            "Leaves lost points out of the output, the others keeping their numbers, instead "
            "of listing them at 1.0"},
           {"outputPoints",
            "Points \"Point0000\", ... with X, Y in this frame and pX, pY in the previous one, "
            "in centred units; a lost point has all four at 1.0; nil without points or image"}}),
      PatchClass::of<OpenCVCanny>(
          "filters", "Draws the Canny edge map of a gray image",
          {{"inputImage", "8-bit one-channel image; no image or a colour image gives nil"},
           {"inputThreshold1",
            "A gradient threshold: the smaller of the two continues edges, the larger starts "
            "them"},
           {"inputThreshold2",
            "The other gradient threshold: the smaller of the two continues edges, the larger "
            "starts them"},
           {"inputAperature", "Sobel kernel of the gradient: 0, 1, 2 select 3, 5, 7 pixels"},
           {"outputImage", "Edge map of the input's size: edge pixels 255, all others 0"}}),
      PatchClass::of<OpenCVEqualizeHist>(
          "filters", "Spreads the gray levels of a gray image by its histogram",
          {{"inputImage", "8-bit one-channel image; no image or any other kind gives nil"},
           {"outputImage", "The input with its gray levels spread by their cumulative histogram"}}),
      PatchClass::of<OpenCVResize>(
          "filters", "Scales an image to a given width and height",
          {{"inputImage", "Image of any size, depth and channel count; no image gives nil"},
           {"inputWidth", "Width of the output in pixels; 0 gives nil"},
           {"inputHeight", "Height of the output in pixels; 0 gives nil"},
           {"inputMethod",
            "Interpolation: 0 nearest neighbour, 1 bilinear, 2 bicubic, 3 pixel-area "
            "resampling"},
           {"outputImage", "The input scaled to the requested size, with its depth and channels"}}),
      PatchClass::of<OpenCVLoad>(
          "detection", "Loads a classifier cascade from a file",
          {{"inputPath",
            "Cascade file: an absolute path, one starting with ~, or one relative to the "
            "composition file's folder"},
           {"outputData",
            "The cascade, read again whenever the path changes; no cascade when the file does "
            "not load, nil when the path is empty"}}),
      PatchClass::of<OpenCVHaarDetectObjects>(
          "detection", "Finds objects, such as faces, with a classifier cascade, as rectangles",
          {{"inputImage",
            "Image of 1, 3 or 4 channels, searched in gray; no image gives nil, other channel "
            "counts an empty list"},
           {"inputCascade", "Classifier cascade, from OpenCVLoad; without one the output is nil"},
           {"inputImageScale", "The image is reduced by this factor before the search"},
           {"inputScaleFactor",
            "How much the searched object size grows from one search scale to the next"},
           {"inputMinNeighbors",
            "Overlapping hits an object needs to be listed; 0 lists every hit ungrouped"},
           {"inputMinSize",
            "Smallest object searched, its side in pixels of the reduced image; 0 is the "
            "cascade's own window"},
           {"inputCannyPruning",
            "Asks OpenCV to skip regions with few edges; this OpenCV ignores it for the "
            "cascades it loads"},
           {"outputRects",
            "Objects \"Object0000\", ... top to bottom, each with its centre X, Y in centred "
            "units, width W in half image widths and height H in half image heights"}}),
      PatchClass::of<OpenCVHoughLines2>(
          "features", "Finds straight line segments in an edge map with the Hough transform",
          {{"inputImage",
            "8-bit one-channel edge map, such as Canny's; no image or a colour image gives nil"},
           {"inputRho", "Distance step of the accumulator, in pixels"},
           {"inputTheta", "Angle step of the accumulator, in degrees"},
           {"inputThreshold", "Votes a line needs to be listed; 0 counts as 1"},
           {"inputMinLength", "Shortest segment listed, in pixels"},
           {"inputMaxGap", "Largest gap between points joined into one segment, in pixels"},
           {"outputLines",
            "Segments \"Line0000\", ... each with its end points X1, Y1 and X2, Y2 in centred "
            "units"}}),
      PatchClass::of<OpenCVLogPolar>(
          "filters", "Maps an image between Cartesian and log-polar form around a centre",
          {{"inputImage", "Image of any depth and channel count; no image gives nil"},
           {"inputCenterX", "Column of the centre, in pixels of the Cartesian image"},
           {"inputCenterY", "Row of the centre, in pixels of the Cartesian image"},
           {"inputMagnitude", "M: the distance r from the centre maps to log-polar column M ln(r)"},
           {"inputInverse", "Off: Cartesian to log-polar; on: log-polar back to Cartesian"},
           {"inputWidth", "Width of the output in pixels; 0 gives nil"},
           {"inputHeight",
            "Height of the output in pixels, one full turn in log-polar form; 0 gives nil"},
           {"outputImage",
            "The mapped image, with the input's depth and channels; pixels mapped from outside "
            "the input are 0"}}),
      PatchClass::of<OpenCVFindChessboardCorners>(
          "features", "Finds the inner corners of a chessboard pattern",
          {{"inputImage",
            "8-bit gray or colour image; without one nothing runs and the outputs keep their "
            "values"},
           {"inputInnerRows", "Inner corners along the board's width; below 3 nothing runs"},
           {"inputInnerColumns", "Inner corners along the board's height; below 3 nothing runs"},
           {"inputFind", "Searches on every frame while on; off keeps the last search's outputs"},
           {"inputAdaptiveThreshold",
            "Turns the image black and white by local brightness instead of one level"},
           {"inputNormalize", "Equalizes the image's histogram before turning it black and white"},
           {"inputFilterQuads", "Drops dark shapes too far from square to be board squares"},
           {"outputCorners",
            "Corners found, \"Corner0000\", ... each with X and Y in centred units"},
           {"outputCornerCount", "Number of corners found"},
           {"outputAllFound", "Whether every corner of the pattern was found"}}),
      PatchClass::of<OpenCVImageToQCImage>(
          "bridges", "Turns an OpenCV image into a host picture",
          {{"inputImage",
            "8-bit image of 1, 3 or 4 channels; no image gives nil, another kind no new "
            "picture"},
           {"outputImage", "The image as a host picture of its size"}}),
      PatchClass::of<QCImageToOpenCVImage>(
          "bridges", "Copies a host picture into an OpenCV image",
          {{"inputImage", "Host picture; none gives nil"},
           {"inputFlip",
            "0 reverses the rows (the picture's top row becomes the image's last), 1 reverses "
            "rows and columns, 2 copies as is, 3 reverses the columns"},
           {"outputImage",
            "8-bit four-channel (blue, green, red, alpha) image of the picture's size"}}),
  };
}

void OpenCVPlugin::registerNodesWithManager(QCNodeManager& manager) {
  // OpenCV raises its errors as exceptions that return to the caller, where each patch's guard
  // reports them and carries on; it must never stop the process in a debugger break instead.
  cv::setBreakOnError(false);
  for (PatchClass& patchClass : patchClasses()) {
    if (!manager.isNodeRegisteredWithName(patchClass.name)) {
      manager.registerNodeWithClass(std::move(patchClass));
    }
  }
}

}  // namespace cvcomp
