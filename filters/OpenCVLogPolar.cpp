#include "OpenCVLogPolar.hpp"

#include <opencv2/imgproc.hpp>

#include "plugin/RequestedSize.hpp"

namespace cvcomp {

OpenCVLogPolar::OpenCVLogPolar(std::string identifier) : OpenCVPatch(std::move(identifier)) {
  // The minimum keeps M above 0, which the logarithmic scale needs.
  inputMagnitude.setMinDoubleValue(0.01);
  inputMagnitude.setDoubleValue(40.0);
  inputWidth.setIndexValue(256);
  inputHeight.setIndexValue(256);
}

bool OpenCVLogPolar::execute(QCContext& /*context*/, double /*time*/,
                             const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  const std::optional<cv::Size> size = requestedSize(input, inputWidth, inputHeight);
  if (!size) {
    img.absent();
    map.release();
    return true;
  }
  // Centre and magnitude are taken at single precision.
  const LogPolarGeometry geometry{
      .centre = {static_cast<float>(inputCenterX.doubleValue()),
                 static_cast<float>(inputCenterY.doubleValue())},
      .magnitude = static_cast<float>(inputMagnitude.doubleValue()),
      .source = input->size(),
      .target = *size,
      .inverse = inputInverse.booleanValue(),
  };
  // The buffer follows the requested size and the input's depth and channels; a change of the
  // input's size, the centre, the magnitude or the direction keeps it.
  img.produce(*size, input->type(), [&](const cv::Mat& transformed) {
    cv::remap(*input, transformed, map.table(geometry), cv::noArray(), cv::INTER_LINEAR,
              cv::BORDER_CONSTANT, cv::Scalar());
  });
  return true;
}

void OpenCVLogPolar::disable(QCContext& /*context*/) {
  img.release();
  map.release();
}

}  // namespace cvcomp
