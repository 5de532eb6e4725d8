#include "OpenCVResize.hpp"

#include <opencv2/imgproc.hpp>

#include "plugin/RequestedSize.hpp"

namespace cvcomp {

OpenCVResize::OpenCVResize(std::string identifier) : OpenCVPatch(std::move(identifier)) {
  inputWidth.setMaxIndexValue(2048);
  inputWidth.setIndexValue(320);
  inputHeight.setMaxIndexValue(2048);
  inputHeight.setIndexValue(240);
  inputMethod.setMaxIndexValue(3);
  inputMethod.setIndexValue(1);
}

bool OpenCVResize::execute(QCContext& /*context*/, double /*time*/,
                           const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  const std::optional<cv::Size> size = requestedSize(input, inputWidth, inputHeight);
  if (!size) {
    img.absent();
    return true;
  }
  // The buffer follows the requested size and the input's depth and channels; a change of the
  // input's size alone keeps it.
  const int method = static_cast<int>(inputMethod.indexValue());
  img.produce(*size, input->type(),
              [&](const cv::Mat& scaled) { cv::resize(*input, scaled, *size, 0.0, 0.0, method); });
  return true;
}

}  // namespace cvcomp
