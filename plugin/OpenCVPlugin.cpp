#include "OpenCVPlugin.hpp"

#include <opencv2/core/utility.hpp>

#include "bridge/OpenCVImageToQCImage.hpp"
#include "bridge/QCImageToOpenCVImage.hpp"
#include "detection/OpenCVHaarDetectObjects.hpp"
#include "detection/OpenCVLoad.hpp"
#include "filters/OpenCVBGR2Gray.hpp"

namespace cvcomp {

std::vector<PatchClass> OpenCVPlugin::patchClasses() {
  return {
      PatchClass::of<OpenCVBGR2Gray>(),
      PatchClass::of<OpenCVLoad>(),
      PatchClass::of<OpenCVHaarDetectObjects>(),
      PatchClass::of<OpenCVImageToQCImage>(),
      PatchClass::of<QCImageToOpenCVImage>(),
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
