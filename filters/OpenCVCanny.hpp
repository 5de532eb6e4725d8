#pragma once

#include "host/QCValuePorts.hpp"
#include "plugin/ImageOutput.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Canny edge map of a one-channel image: edge pixels 255, all others 0. The smaller threshold
// continues edges, the larger one starts them, whichever port holds which. `inputAperature`
// chooses the Sobel kernel size of the gradient: index 0, 1, 2 select 3, 5, 7. Colour input
// gives nil.
class OpenCVCanny final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVCanny)

  explicit OpenCVCanny(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;
  void disable(QCContext& context) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCNumberPort, inputThreshold1);
  QC_PORT(QCNumberPort, inputThreshold2);
  QC_PORT(QCIndexPort, inputAperature);
  QC_PORT(OpenCVImagePort, outputImage);

 private:
  ImageOutput img{outputImage};
};

}  // namespace cvcomp
