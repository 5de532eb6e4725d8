#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "OpticalFlowPyramid.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {

// Follows points from frame to frame of a one-channel image stream with the pyramidal
// Lucas–Kanade tracker. Points are loaded from a point list structure on the rising edge of the
// replace signal (all points) or of the append signal (added after the others); they are
// positions in the previous frame. Every tracked frame publishes a new point list with the
// current ("X", "Y") and previous ("pX", "pY") position of every point.
//
// States: idle (no points: nil is published), primed (points but no previous frame of the
// input's size and type: the frame is kept and nothing is published), tracking.
class OpenCVCalcOpticalFlowPyrLK final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVCalcOpticalFlowPyrLK)

  explicit OpenCVCalcOpticalFlowPyrLK(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCStructurePort, inputPoints);
  QC_PORT(QCBooleanPort, inputUseInputPointsSignal);
  QC_PORT(QCBooleanPort, inputAddInputPointsSignal);
  // Half-size s of the search window, which is 2s + 1 pixels square; raised to at least 2.
  QC_PORT(QCIndexPort, inputWindowSize);
  QC_PORT(QCIndexPort, inputMaxIterations);
  QC_PORT(QCNumberPort, inputEpsilon);
  // Leaves lost points out of the output instead of publishing them at 1.0.
  QC_PORT(QCBooleanPort, inputExcludeNaNs);
  QC_PORT(QCStructurePort, outputPoints);

 private:
  void load(cv::Size size);
  void readPoints(const QCStructure& structure, std::size_t first, cv::Size size);
  void track(const cv::Mat& image);
  NumberedStructure pointStructure(cv::Size size) const;
  std::size_t pointCount() const { return prevPoints.size(); }

  bool oldUseInputPointsSignal = false;
  bool oldAddInputPointsSignal = false;
  ImageBuffer autoPrevFrame;
  // Each frame's pyramid is built once and kept as the next frame's previous pyramid. Only image
  // levels are kept: OpenCV computes the previous levels' derivatives into one scratch buffer that
  // stays in cache, which costs less than building and reading a stored derivative pyramid.
  // prevPyramidWindow tells the window it was built for; it is empty when the previous frame has no
  // pyramid yet (just primed, or the last tracking failed).
  OpticalFlowPyramid pyramid;
  OpticalFlowPyramid prevPyramid;
  std::optional<cv::Size> prevPyramidWindow;
  // Positions in pixels in the current and in the previous frame, and whether the tracker found
  // each point in the current frame. All three have one entry per point.
  std::vector<cv::Point2f> points;
  std::vector<cv::Point2f> prevPoints;
  std::vector<unsigned char> pointStatus;
};

}  // namespace cvcomp
