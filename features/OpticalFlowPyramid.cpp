#include "OpticalFlowPyramid.hpp"

#include <opencv2/video/tracking.hpp>

namespace cvcomp {

void OpticalFlowPyramid::build(const cv::Mat& image, cv::Size window, int maxLevel) {
  // The same level sizes as OpenCV's own pyramid construction, so that it writes into the
  // prepared buffers instead of allocating its own.
  levels_.clear();
  cv::Size size = image.size();
  for (int level = 0; level <= maxLevel; ++level) {
    addLevel(size, image.type(), window);
    size = cv::Size((size.width + 1) / 2, (size.height + 1) / 2);
    if (size.width <= window.width || size.height <= window.height) break;
  }
  buffers_.resize(levels_.size());

  cv::buildOpticalFlowPyramid(image, levels_, window, maxLevel, false, cv::BORDER_REFLECT_101,
                              cv::BORDER_CONSTANT, false);
  // The buffers are fixed destinations: a level that OpenCV had to place elsewhere is an error.
  CV_Assert(levels_.size() == buffers_.size());
  for (std::size_t i = 0; i < levels_.size(); ++i) {
    CV_Assert(levels_[i].datastart == buffers_[i].mat().datastart);
  }
}

void OpticalFlowPyramid::addLevel(cv::Size size, int type, cv::Size window) {
  const std::size_t index = levels_.size();
  if (buffers_.size() <= index) buffers_.resize(index + 1);
  const cv::Size bordered(size.width + 2 * window.width, size.height + 2 * window.height);
  const cv::Mat& buffer = buffers_[index].prepare(bordered, type);
  levels_.push_back(buffer(cv::Rect(window.width, window.height, size.width, size.height)));
}

}  // namespace cvcomp
