#pragma once

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include "host/QCObjectPorts.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Finds objects with a classifier cascade in a gray copy of the input image that is reduced by
// `inputImageScale`, flipped top to bottom and equalized, and publishes them as a structure of
// rectangles "Object0000", "Object0001", ... with the members "X", "Y", "W", "H": X and Y are
// the centred unit coordinates of the rectangle's centre in the reduced image as it was before
// the flip, W its width in the same unit (half the image width), H its height in units of half
// the image height, all four single-precision numbers.
//
// The detector gathers its candidates on several threads, in an order that changes from run to
// run; the rectangles are published in an order of their own, the same on every run whatever
// the number of threads: by Y (top to bottom), then by X (left to right), then by W and by H
// (smaller first), comparing the published values.
//
// Without an image or a cascade the output is nil; an image that cannot be searched (a channel
// count other than 1, 3 or 4, or a reduced size of 0 pixels) gives an empty structure.
class OpenCVHaarDetectObjects final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVHaarDetectObjects)

  explicit OpenCVHaarDetectObjects(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(OpenCVImagePort, inputImage);
  QC_PORT(OpenCVCascadePort, inputCascade);
  QC_PORT(QCNumberPort, inputImageScale);
  QC_PORT(QCNumberPort, inputScaleFactor);
  QC_PORT(QCIndexPort, inputMinNeighbors);
  QC_PORT(QCIndexPort, inputMinSize);
  QC_PORT(QCBooleanPort, inputCannyPruning);
  QC_PORT(QCStructurePort, outputRects);

 private:
  // Prepares the searched image of `size` from `input` and runs the detector on it into `rectSeq`.
  void detect(const cv::Mat& input, cv::Size size, cv::CascadeClassifier& cascade);

  // Scratch images, kept from frame to frame so that frames of one size allocate nothing.
  ImageBuffer gray;
  ImageBuffer reduced;
  ImageBuffer flipped;
  // The detector's result of the last execution.
  std::vector<cv::Rect> rectSeq;
};

}  // namespace cvcomp
