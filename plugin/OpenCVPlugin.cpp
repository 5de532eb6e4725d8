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
  // In registration order, each with its palette group and what it does.
  return {
      PatchClass::of<OpenCVBGR2Gray>("filters",
                                     "Converts a colour image to a one-channel gray image"),
      PatchClass::of<OpenCVGoodFeaturesToTrack>(
          "features", "Finds the strongest corners of a gray image as a point list"),
      PatchClass::of<OpenCVCalcOpticalFlowPyrLK>(
          "features", "Tracks points from frame to frame with pyramidal Lucas-Kanade optical flow"),
      PatchClass::of<OpenCVCanny>("filters", "Draws the Canny edge map of a gray image"),
      PatchClass::of<OpenCVEqualizeHist>(
          "filters", "Spreads the gray levels of a gray image by its histogram"),
      PatchClass::of<OpenCVResize>("filters", "Scales an image to a given width and height"),
      PatchClass::of<OpenCVLoad>("detection", "Loads a classifier cascade from a file"),
      PatchClass::of<OpenCVHaarDetectObjects>(
          "detection", "Finds objects, such as faces, with a classifier cascade, as rectangles"),
      PatchClass::of<OpenCVHoughLines2>(
          "features", "Finds straight line segments in an edge map with the Hough transform"),
      PatchClass::of<OpenCVLogPolar>(
          "filters", "Maps an image between Cartesian and log-polar form around a centre"),
      PatchClass::of<OpenCVFindChessboardCorners>(
          "features", "Finds the inner corners of a chessboard pattern"),
      PatchClass::of<OpenCVImageToQCImage>("bridges", "Turns an OpenCV image into a host picture"),
      PatchClass::of<QCImageToOpenCVImage>("bridges", "Copies a host picture into an OpenCV image"),
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
