#include "OpenCVEqualizeHist.hpp"

#include <opencv2/imgproc.hpp>

namespace cvcomp {

bool OpenCVEqualizeHist::execute(QCContext& /*context*/, double /*time*/,
                                 const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  if (!input || input->type() != CV_8UC1) {
    img.absent();
    return true;
  }
  img.produce(input->size(), CV_8UC1,
              [&](const cv::Mat& equalized) { cv::equalizeHist(*input, equalized); });
  return true;
}

}  // namespace cvcomp
