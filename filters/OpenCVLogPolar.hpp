#pragma once

#include "LogPolarMap.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/ImageOutput.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Maps an image between Cartesian and log-polar form around a centre, into an output of the
// requested size (256 × 256 by default) with the input's depth and channels. In log-polar form
// the column is M · ln(r) of the distance r from the centre and the rows span one full turn;
// with `inputInverse` on, log-polar form is mapped back to Cartesian. Pixels are interpolated
// linearly, and pixels without a source are 0. A width or height of 0 gives nil.
class OpenCVLogPolar final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVLogPolar)

  explicit OpenCVLogPolar(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;
  void disable(QCContext& context) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCNumberPort, inputCenterX);
  QC_PORT(QCNumberPort, inputCenterY);
  QC_PORT(QCNumberPort, inputMagnitude);
  QC_PORT(QCBooleanPort, inputInverse);
  QC_PORT(QCIndexPort, inputWidth);
  QC_PORT(QCIndexPort, inputHeight);
  QC_PORT(OpenCVImagePort, outputImage);

 private:
  ImageOutput img{outputImage};
  LogPolarMap map;
};

}  // namespace cvcomp
