#pragma once

#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/ImageOutput.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Copies a host image, flipped as `inputFlip` asks, into an 8-bit four-channel OpenCV image.
// Flip modes: 0 reverses the rows (the bitmap's top row becomes the image's last row), 1 reverses
// rows and columns, 2 copies as is, 3 reverses the columns.
class QCImageToOpenCVImage final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(QCImageToOpenCVImage)

  explicit QCImageToOpenCVImage(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(QCImagePort, inputImage);
  QC_PORT(QCIndexPort, inputFlip);
  QC_PORT(OpenCVImagePort, outputImage);

 private:
  ImageOutput img{outputImage};
};

}  // namespace cvcomp
