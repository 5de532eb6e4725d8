#include "OpenCVCalcOpticalFlowPyrLK.hpp"

#include <algorithm>
#include <string_view>

#include <opencv2/video/tracking.hpp>

#include "plugin/ImageOutput.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {

namespace {
constexpr int kMaxLevel = 3;
constexpr std::size_t kMinHalfWindow = 2;
// Half-sizes beyond this cover any image many times over and only make OpenCV fail to allocate
// the pyramid; capping them keeps the window's pixel arithmetic within int.
constexpr std::size_t kMaxHalfWindow = std::size_t{1} << 20;
// What a lost point publishes for each of its four coordinates.
constexpr float kLostCoordinate = 1.0f;

double memberValue(const QCStructure* point, std::string_view key) {
  const QCNumber* number = point ? point->numberForKey(key) : nullptr;
  return number ? number->value : 0.0;
}

// The pixel position of a point given in centred unit coordinates of a `size` image.
cv::Point2f pixelOf(const QCStructure* point, cv::Size size) {
  return pixelOfCentredUnit({memberValue(point, "X"), memberValue(point, "Y")}, size);
}

void addPoint(NumberedStructure& structure, std::size_t index, cv::Point2f now,
              cv::Point2f before) {
  QCStructure& point = structure.add(index);
  point.reserve(4);
  point.addMember(QCNumber::withFloat(now.x), "X");
  point.addMember(QCNumber::withFloat(now.y), "Y");
  point.addMember(QCNumber::withFloat(before.x), "pX");
  point.addMember(QCNumber::withFloat(before.y), "pY");
}
}  // namespace

OpenCVCalcOpticalFlowPyrLK::OpenCVCalcOpticalFlowPyrLK(std::string identifier)
    : OpenCVPatch(std::move(identifier)) {
  inputEpsilon.setMinDoubleValue(0.0);
  inputEpsilon.setMaxDoubleValue(10.0);
  inputEpsilon.setDoubleValue(0.03);
  inputMaxIterations.setMaxIndexValue(50);
  inputMaxIterations.setIndexValue(20);
  inputWindowSize.setIndexValue(10);
}

bool OpenCVCalcOpticalFlowPyrLK::execute(QCContext& /*context*/, double /*time*/,
                                         const QCStructure& /*arguments*/) {
  const cv::Mat* image = imageValue(inputImage);
  if (!image) {
    autoPrevFrame.release();
    prevPyramidWindow.reset();
    outputPoints.setStructureValue(nullptr);
    return true;
  }
  // Colour frames are not part of the stream: nothing changes, not even the signals.
  if (image->channels() > 1) return true;

  load(image->size());
  // Without points the signals are not remembered, so a held signal loads as soon as it can.
  if (pointCount() == 0) {
    outputPoints.setStructureValue(nullptr);
    return true;
  }
  oldUseInputPointsSignal = inputUseInputPointsSignal.booleanValue();
  oldAddInputPointsSignal = inputAddInputPointsSignal.booleanValue();

  // A frame of another size or type than the previous one cannot be tracked against it: it
  // becomes the previous frame, and the output keeps its last value.
  const bool comparable = autoPrevFrame.exists() && autoPrevFrame.mat().size() == image->size() &&
                          autoPrevFrame.mat().type() == image->type();
  if (!comparable) {
    guarded([&] { image->copyTo(autoPrevFrame.prepare(image->size(), image->type())); });
    prevPyramidWindow.reset();
    return true;
  }

  if (inputWindowSize.indexValue() < kMinHalfWindow) inputWindowSize.setIndexValue(kMinHalfWindow);
  track(*image);
  NumberedStructure structure = pointStructure(image->size());
  // The kept pyramid describes the kept frame; without the frame it cannot serve.
  if (!guarded([&] { image->copyTo(autoPrevFrame.mat()); })) prevPyramidWindow.reset();
  // The positions just found are where the next frame's search starts, lost points included.
  std::swap(points, prevPoints);
  std::move(structure).publishOn(outputPoints);
  return true;
}

void OpenCVCalcOpticalFlowPyrLK::load(cv::Size size) {
  const std::shared_ptr<QCStructure>& structure = inputPoints.structureValue();
  if (inputUseInputPointsSignal.booleanValue() && !oldUseInputPointsSignal) {
    const std::size_t count = structure ? structure->count() : 0;
    points.resize(count);
    prevPoints.resize(count);
    pointStatus.resize(count);
    if (structure) readPoints(*structure, 0, size);
  } else if (inputAddInputPointsSignal.booleanValue() && !oldAddInputPointsSignal && structure) {
    const std::size_t first = pointCount();
    const std::size_t count = first + structure->count();
    points.resize(count);
    prevPoints.resize(count);
    pointStatus.resize(count);
    readPoints(*structure, first, size);
  }
}

// Reads the members "Point0000" to the structure's count minus one; missing points or members
// read as 0, the image centre on that axis.
void OpenCVCalcOpticalFlowPyrLK::readPoints(const QCStructure& structure, std::size_t first,
                                            cv::Size size) {
  for (std::size_t i = 0; i < structure.count(); ++i) {
    prevPoints[first + i] = pixelOf(structure.structureForKey(numberedKey("Point", i)), size);
  }
}

void OpenCVCalcOpticalFlowPyrLK::track(const cv::Mat& image) {
  const std::size_t halfWindow = std::min(inputWindowSize.indexValue(), kMaxHalfWindow);
  const int side = static_cast<int>(2 * halfWindow + 1);
  const cv::Size window(side, side);
  const cv::TermCriteria criteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS,
                                  static_cast<int>(inputMaxIterations.indexValue()),
                                  static_cast<float>(inputEpsilon.doubleValue()));
  const bool tracked = guarded([&] {
    if (prevPyramidWindow != window) {
      prevPyramid.build(autoPrevFrame.mat(), window, kMaxLevel);
    }
    pyramid.build(image, window, kMaxLevel);
    cv::calcOpticalFlowPyrLK(prevPyramid.levels(), pyramid.levels(), prevPoints, points,
                             pointStatus, cv::noArray(), window, kMaxLevel, criteria, 0);
  });
  if (tracked) {
    std::swap(pyramid, prevPyramid);
    prevPyramidWindow = window;
    return;
  }
  // A failed call has found no point: all count as lost and stay where they were.
  prevPyramidWindow.reset();
  std::copy(prevPoints.begin(), prevPoints.end(), points.begin());
  std::fill(pointStatus.begin(), pointStatus.end(), 0);
}

NumberedStructure OpenCVCalcOpticalFlowPyrLK::pointStructure(cv::Size size) const {
  const bool excludeLost = inputExcludeNaNs.booleanValue();
  NumberedStructure structure("Point", pointCount());
  for (std::size_t i = 0; i < pointCount(); ++i) {
    if (pointStatus[i] != 0) {
      addPoint(structure, i, centredUnitByAspect(points[i], size),
               centredUnitByAspect(prevPoints[i], size));
    } else if (!excludeLost) {
      const cv::Point2f lost(kLostCoordinate, kLostCoordinate);
      addPoint(structure, i, lost, lost);
    }
  }
  return structure;
}

}  // namespace cvcomp
