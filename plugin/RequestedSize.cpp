#include "RequestedSize.hpp"

#include <algorithm>
#include <climits>

namespace cvcomp {

namespace {
int extent(std::size_t value) {
  return static_cast<int>(std::min<std::size_t>(value, INT_MAX));
}
}  // namespace

std::optional<cv::Size> requestedSize(const cv::Mat* input, const QCIndexPort& width,
                                      const QCIndexPort& height) {
  if (!input || width.indexValue() == 0 || height.indexValue() == 0) return std::nullopt;
  return cv::Size(extent(width.indexValue()), extent(height.indexValue()));
}

}  // namespace cvcomp
