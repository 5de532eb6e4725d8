#include "OpenCVFindChessboardCorners.hpp"

#include <algorithm>
#include <memory>
#include <vector>

#include <opencv2/calib3d.hpp>

#include "plugin/ImageOutput.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {

namespace {

// No image holds a board with more inner corners than this along one side; larger requests are
// searched at this size, so that the corner count of the pattern stays within an int.
constexpr std::size_t kLargestPatternSide = 1 << 15;

int patternSide(std::size_t corners) {
  return static_cast<int>(std::min(corners, kLargestPatternSide));
}

NumberedStructure cornerStructure(const std::vector<cv::Point2f>& corners, cv::Size imageSize) {
  NumberedStructure structure("Corner", corners.size());
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const cv::Point2f unit = centredUnit(corners[i], imageSize);
    QCStructure& corner = structure.add(i);
    corner.addMember(QCNumber::withDouble(unit.x), "X");
    corner.addMember(QCNumber::withDouble(unit.y), "Y");
  }
  return structure;
}

}  // namespace

OpenCVFindChessboardCorners::OpenCVFindChessboardCorners(std::string identifier)
    : OpenCVPatch(std::move(identifier)) {
  inputAdaptiveThreshold.setBooleanValue(true);
}

bool OpenCVFindChessboardCorners::execute(QCContext& /*context*/, double /*time*/,
                                          const QCStructure& /*arguments*/) {
  const cv::Mat* image = imageValue(inputImage);
  const std::size_t rows = inputInnerRows.indexValue();
  const std::size_t columns = inputInnerColumns.indexValue();
  if (!image || rows < 3 || columns < 3 || !inputFind.booleanValue()) return true;

  const int flags = (inputAdaptiveThreshold.booleanValue() ? cv::CALIB_CB_ADAPTIVE_THRESH : 0) |
                    (inputNormalize.booleanValue() ? cv::CALIB_CB_NORMALIZE_IMAGE : 0) |
                    (inputFilterQuads.booleanValue() ? cv::CALIB_CB_FILTER_QUADS : 0);
  // Inner rows give the pattern's width, inner columns its height.
  const cv::Size pattern(patternSide(rows), patternSide(columns));
  std::vector<cv::Point2f> corners;
  bool allFound = false;
  // An image that the detector refuses (not 8-bit, or two channels) is a search without corners.
  if (!guarded([&] { allFound = search_.find(*image, pattern, flags, corners); })) {
    corners.clear();
    allFound = false;
  }

  outputCornerCount.setIndexValue(corners.size());
  outputAllFound.setBooleanValue(allFound);
  cornerStructure(corners, image->size()).publishOn(outputCorners);
  return true;
}

}  // namespace cvcomp
