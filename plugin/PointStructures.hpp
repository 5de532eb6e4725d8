#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <opencv2/core/types.hpp>

namespace cvcomp {

// The key of result `index` (from 0) in a numbered structure: the word followed by the index,
// zero-padded to four digits ("Point0000", "Line0012"); from 10000 on the number simply grows.
std::string numberedKey(std::string_view word, std::size_t index);

// Centred unit coordinates of the pixel position (x, y) in a w × h image: the origin is the
// image centre, one unit is half the image width on both axes, and Y grows with the row index.
// Computed in single precision in this order: X = (x + w·(−0.5)) / (w·0.5) and
// Y = (((y + h·(−0.5)) / (h·0.5)) · h) / w.
cv::Point2f centredUnit(cv::Point2f pixel, cv::Size size);

}  // namespace cvcomp
