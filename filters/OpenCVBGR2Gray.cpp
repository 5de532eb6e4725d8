#include "OpenCVBGR2Gray.hpp"

#include <opencv2/imgproc.hpp>

namespace cvcomp {

bool OpenCVBGR2Gray::execute(QCContext& /*context*/, double /*time*/,
                             const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  const int channels = input ? input->channels() : 0;
  if (channels != 3 && channels != 4) {
    img.absent();
    return true;
  }
  // The buffer follows the input's depth, so it is kept only while size and depth stay the same.
  const int code = channels == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY;
  img.produce(input->size(), CV_MAKETYPE(input->depth(), 1),
              [&](const cv::Mat& gray) { cv::cvtColor(*input, gray, code); });
  return true;
}

void OpenCVBGR2Gray::disable(QCContext& /*context*/) {
  img.release();
}

}  // namespace cvcomp
