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

  explicit OpenCVBGR2Gray(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;
  void disable(QCContext& context) override;

  QC_PORT(OpenCVTypePort, inputImage);
  QC_PORT(OpenCVTypePort, outputImage);

 private:
  ImageOutput img{outputImage};
};

}  // namespace cvcomp
