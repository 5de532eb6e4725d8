#pragma once

#include "host/QCValuePorts.hpp"
#include "plugin/ImageOutput.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Scales an image of any size to the requested width and height (at most 2048 × 2048), keeping
// its depth and channel count. Interpolation: 0 nearest neighbour, 1 bilinear (the default),
// 2 bicubic, 3 pixel-area resampling. A width or height of 0 gives nil.
class OpenCVResize final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVResize)

  explicit OpenCVResize(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCIndexPort, inputWidth);
  QC_PORT(QCIndexPort, inputHeight);
  QC_PORT(QCIndexPort, inputMethod);
  QC_PORT(OpenCVImagePort, outputImage);

 private:
  // Released when the input becomes unsuitable and with the patch.
  ImageOutput img{outputImage};
};

}  // namespace cvcomp
