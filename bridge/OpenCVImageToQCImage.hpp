#pragma once

#include "host/QCObjectPorts.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Turns an 8-bit OpenCV image of 1, 3 or 4 channels into a host image: the image is brought into
// a blue-green-red-alpha conversion buffer, copied row by row into a new BGRX8 pixel buffer and
// published as a host image. The host shows pixels as they are, with no colour matching, so the
// image carries no colour space and no word that would switch matching off.
class OpenCVImageToQCImage final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVImageToQCImage)

  using OpenCVPatch::OpenCVPatch;
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCImagePort, outputImage);

 private:
  // Kept while the input is absent; replaced when the input's size changes.
  ImageBuffer cvt;
};

}  // namespace cvcomp
