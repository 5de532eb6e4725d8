#pragma once

#include <optional>

#include <opencv2/core.hpp>

#include "host/QCValuePorts.hpp"

namespace cvcomp {

// The output size that a width and a height port ask for an input image, or nothing when there is
// no input or either extent is 0: the input is then unsuitable. An index beyond the range of an
// image extent is taken as the largest extent, which OpenCV then refuses to allocate, rather than
// letting it wrap round to some small size.
std::optional<cv::Size> requestedSize(const cv::Mat* input, const QCIndexPort& width,
                                      const QCIndexPort& height);

}  // namespace cvcomp
