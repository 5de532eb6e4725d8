#include "OpenCVHoughLines2.hpp"

#include <algorithm>
#include <climits>
#include <cstddef>

#include <opencv2/imgproc.hpp>

#include "plugin/ImageOutput.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {

namespace {
constexpr double kRadiansPerDegree = 0.017453292519943295;

// Fills the member of one segment: its end points in centred unit coordinates, computed in
// single precision and widened to double.
void fillLine(QCStructure& member, const cv::Vec4i& segment, cv::Size size) {
  const cv::Point2f start = centredUnit(cv::Point2f(cv::Point(segment[0], segment[1])), size);
  const cv::Point2f end = centredUnit(cv::Point2f(cv::Point(segment[2], segment[3])), size);
  member.addMember(QCNumber::withDouble(start.x), "X1");
  member.addMember(QCNumber::withDouble(start.y), "Y1");
  member.addMember(QCNumber::withDouble(end.x), "X2");
  member.addMember(QCNumber::withDouble(end.y), "Y2");
}
}  // namespace

OpenCVHoughLines2::OpenCVHoughLines2(std::string identifier) : OpenCVPatch(std::move(identifier)) {
  // The detector refuses a distance step of 0, so a new patch starts at one pixel.
  inputRho.setDoubleValue(1.0);
  inputRho.setMinDoubleValue(0.5);
  inputTheta.setDoubleValue(1.0);
  inputTheta.setMaxDoubleValue(179.9);
  inputTheta.setMinDoubleValue(0.1);
  inputThreshold.setIndexValue(25);
  inputMinLength.setDoubleValue(50.0);
  inputMaxGap.setDoubleValue(15.0);
}

bool OpenCVHoughLines2::execute(QCContext& /*context*/, double /*time*/,
                                const QCStructure& /*arguments*/) {
  const cv::Mat* input = imageValue(inputImage);
  if (!input || input->channels() != 1) {
    outputLines.setStructureValue(nullptr);
    return true;
  }

  const float maxGap = static_cast<float>(inputMaxGap.doubleValue());
  const float minLength = static_cast<float>(inputMinLength.doubleValue());
  // An index beyond the detector's integer range asks for more votes than any line can have.
  const int threshold =
      static_cast<int>(std::clamp<std::size_t>(inputThreshold.indexValue(), 1, INT_MAX));
  const float theta = static_cast<float>(inputTheta.doubleValue() * kRadiansPerDegree);
  const float rho = static_cast<float>(inputRho.doubleValue());

  lineSeq.clear();
  const bool found =
      guarded([&] { cv::HoughLinesP(*input, lineSeq, rho, theta, threshold, minLength, maxGap); });
  // A refused call reports no segment, whatever it left behind.
  if (!found) lineSeq.clear();
  NumberedStructure lines("Line", lineSeq.size());
  for (std::size_t i = 0; i < lineSeq.size(); ++i)
    fillLine(lines.add(i), lineSeq[i], input->size());
  std::move(lines).publishOn(outputLines);
  return true;
}

}  // namespace cvcomp
