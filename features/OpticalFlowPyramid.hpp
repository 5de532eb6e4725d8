#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "plugin/ImageBuffer.hpp"

namespace cvcomp {

// The image pyramid of one frame as the pyramidal Lucas–Kanade tracker takes it: every level
// surrounded by a border as wide as the search window. The levels live in buffers of the patch's
// own, which are reused from frame to frame while the image size and the window stay the same.
class OpticalFlowPyramid {
 public:
  // Builds the pyramid of an 8-bit image with up to `maxLevel` levels above the image itself,
  // fewer when a level would be no larger than the window.
  void build(const cv::Mat& image, cv::Size window, int maxLevel);

  // The levels (each a view inside its bordered buffer), for cv::calcOpticalFlowPyrLK.
  const std::vector<cv::Mat>& levels() const { return levels_; }

 private:
  void addLevel(cv::Size size, int type, cv::Size window);

  std::vector<ImageBuffer> buffers_;
  std::vector<cv::Mat> levels_;
};

}  // namespace cvcomp
