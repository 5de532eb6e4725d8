#include "OpenCVGoodFeaturesToTrack.hpp"

#include <vector>

#include <opencv2/imgproc.hpp>

#include "plugin/ImageOutput.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {

namespace {
// The corner measure: the smaller eigenvalue of the gradients' covariance over 7 × 7 blocks (the
// Harris constant only matters for the Harris measure, which is not used).
constexpr int kBlockSize = 7;
constexpr bool kUseHarris = false;
constexpr float kHarrisK = 0.04f;
}  // namespace

OpenCVGoodFeaturesToTrack::OpenCVGoodFeaturesToTrack(std::string identifier)
    : OpenCVPatch(std::move(identifier)) {
  inputMaxPoints.setMaxIndexValue(1000);
  inputMaxPoints.setIndexValue(50);
  inputQuality.setMaxDoubleValue(1.0);
  inputQuality.setMinDoubleValue(0.0);
  inputQuality.setDoubleValue(0.01);
  inputMinDistance.setMaxDoubleValue(32.0);
  inputMinDistance.setMinDoubleValue(1.0);
  inputMinDistance.setDoubleValue(10.0);
}

bool OpenCVGoodFeaturesToTrack::execute(QCContext& /*context*/, double /*time*/,
                                        const QCStructure& /*arguments*/) {
  const cv::Mat* image = imageValue(inputImage);
  const std::size_t maxPoints = inputMaxPoints.indexValue();
  if (!image || image->channels() != 1 || maxPoints == 0) {
    unsuitable();
    return true;
  }
  if (inputFindSignal.booleanValue() && !oldFindValue) search(*image, maxPoints);
  oldFindValue = inputFindSignal.booleanValue();
  return true;
}

void OpenCVGoodFeaturesToTrack::disable(QCContext& /*context*/) {
  oldFindValue = false;
}

void OpenCVGoodFeaturesToTrack::search(const cv::Mat& image, std::size_t maxPoints) {
  std::vector<cv::Point2f> corners;
  corners.reserve(maxPoints);
  // OpenCV receives both thresholds in single precision.
  const float minDistance = static_cast<float>(inputMinDistance.doubleValue());
  const float quality = static_cast<float>(inputQuality.doubleValue());
  const bool found = guarded([&] {
    cv::goodFeaturesToTrack(image, corners, static_cast<int>(maxPoints), quality, minDistance,
                            cv::noArray(), kBlockSize, kUseHarris, kHarrisK);
  });
  // A failed search has found nothing.
  if (!found) corners.clear();

  NumberedStructure points("Point", corners.size());
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const cv::Point2f unit = centredUnit(corners[i], image.size());
    QCStructure& point = points.add(i);
    point.addMember(QCNumber::withDouble(unit.x), "X");
    point.addMember(QCNumber::withDouble(unit.y), "Y");
  }
  // Also when nothing was found: the output then carries the empty list, not nil.
  std::move(points).publishOn(outputPoints);
}

void OpenCVGoodFeaturesToTrack::unsuitable() {
  outputPoints.setStructureValue(nullptr);
  oldFindValue = false;
}

}  // namespace cvcomp
