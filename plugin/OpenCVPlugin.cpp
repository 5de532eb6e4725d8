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
  // One class per line, in registration order.
  // clang-format off
  return {
      PatchClass::of<OpenCVBGR2Gray>(),
      PatchClass::of<OpenCVGoodFeaturesToTrack>(),
      PatchClass::of<OpenCVCalcOpticalFlowPyrLK>(),
      PatchClass::of<OpenCVCanny>(),
      PatchClass::of<OpenCVEqualizeHist>(),
      PatchClass::of<OpenCVResize>(),
      PatchClass::of<OpenCVLoad>(),
      PatchClass::of<OpenCVHaarDetectObjects>(),
      PatchClass::of<OpenCVHoughLines2>(),
      PatchClass::of<OpenCVLogPolar>(),
      PatchClass::of<OpenCVFindChessboardCorners>(),
      PatchClass::of<OpenCVImageToQCImage>(),
      PatchClass::of<QCImageToOpenCVImage>(),
  };
  // clang-format on
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
