#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Finds straight line segments in a one-channel image (an edge map, typically) with the
// probabilistic Hough transform and publishes them as a structure of members "Line0000",
// "Line0001", ... in the detector's order, each with the end points "X1", "Y1", "X2", "Y2" in
// centred unit coordinates, in a new structure at every execution. Input other than one channel
// gives nil.
class OpenCVHoughLines2 final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVHoughLines2)
  // Scheduled as the host schedules patches by default.
  static constexpr int executionMode = QCPatch::executionMode;
  static constexpr int timeMode = QCPatch::timeMode;

  explicit OpenCVHoughLines2(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(QCNumberPort, inputRho);        // distance step of the accumulator, pixels
  QC_PORT(QCNumberPort, inputTheta);      // angle step of the accumulator, degrees
  QC_PORT(QCIndexPort, inputThreshold);   // votes a line needs; 0 counts as 1
  QC_PORT(QCNumberPort, inputMinLength);  // shortest segment reported, pixels
  QC_PORT(QCNumberPort, inputMaxGap);     // largest gap joined within a segment, pixels
  QC_PORT(QCStructurePort, outputLines);

 private:
  // The detector's segments (x1, y1, x2, y2 in pixels) of the last execution; its capacity is
  // kept from frame to frame.
  std::vector<cv::Vec4i> lineSeq;
};

}  // namespace cvcomp
