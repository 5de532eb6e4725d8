#include "OpenCVCanny.hpp"

#include <algorithm>
#include <array>

#include <opencv2/imgproc.hpp>

namespace cvcomp {

namespace {
constexpr std::array<int, 3> kApertureSizes{3, 5, 7};
}

OpenCVCanny::OpenCVCanny(std::string identifier) : OpenCVPatch(std::move(identifier)) {
  for (QCNumberPort* threshold : {&inputThreshold1, &inputThreshold2}) {
    threshold->setMinDoubleValue(0.0);
    threshold->setMaxDoubleValue(300.0);
    threshold->setDoubleValue(25.0);
  }
  inputAperature.setIndexValue(0);
  inputAperature.setMaxIndexValue(kApertureSizes.size() - 1);
}

bool OpenCVCanny::execute(QCContext& /*context*/, double /*time*/,
                          const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  if (!input || input->channels() != 1) {
    img.absent();
    return true;
  }
  // The port keeps the index within the table; an index beyond it still selects the last entry.
  const int aperture =
      kApertureSizes[std::min(inputAperature.indexValue(), kApertureSizes.size() - 1)];
  const float threshold1 = static_cast<float>(inputThreshold1.doubleValue());
  const float threshold2 = static_cast<float>(inputThreshold2.doubleValue());
  // The edge map follows the input's depth; the detector itself accepts 8-bit images only.
  img.produce(input->size(), CV_MAKETYPE(input->depth(), 1), [&](const cv::Mat& edges) {
    cv::Canny(*input, edges, threshold1, threshold2, aperture);
  });
  return true;
}

void OpenCVCanny::disable(QCContext& /*context*/) {
  img.release();
}

}  // namespace cvcomp
