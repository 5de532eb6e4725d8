#pragma once

#include "plugin/ImageOutput.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Equalizes the histogram of an 8-bit one-channel image into an image of its own, spreading the
// gray levels by their cumulative histogram. Other inputs give nil. The buffer stays allocated
// while the patch is disabled and goes with the patch.
class OpenCVEqualizeHist final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVEqualizeHist)

  using OpenCVPatch::OpenCVPatch;
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(OpenCVImagePort, outputImage);

 private:
  ImageOutput img{outputImage};
};

}  // namespace cvcomp
