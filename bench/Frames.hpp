#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "host/QCImage.hpp"

namespace cvcomp::bench {

// Up to `count` frames of a location as ImageSource takes it (a clip, a picture, a folder,
// "pattern:WxH"), decoded into host bitmaps as the runner's reader makes them: top-down BGRA.
// A single picture is repeated until there are `count` frames. Throws FrameSourceError.
std::vector<Bitmap> decodeFrames(const std::string& location, std::size_t count);

// The frame converted as the runner's reader converts a decoded frame (BGR to top-down BGRA).
Bitmap bitmapOf(const cv::Mat& decoded);

// A bitmap's pixels as an OpenCV header (8-bit BGRA, no copy).
cv::Mat matOf(const Bitmap& bitmap);

}  // namespace cvcomp::bench
