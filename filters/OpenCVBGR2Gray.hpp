#pragma once

#include "plugin/ImageOutput.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Converts a three-channel (blue, green, red) or four-channel (blue, green, red, alpha) image to a
// one-channel gray image of the same size and depth. Other channel counts give nil.
class OpenCVBGR2Gray final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVBGR2Gray)

  using OpenCVPatch::OpenCVPatch;
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;
  void disable(QCContext& context) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(OpenCVImagePort, outputImage);

 private:
  ImageOutput img{outputImage};
};

}  // namespace cvcomp
