#include "PointStructures.hpp"

#include <cstdio>

namespace cvcomp {

std::string numberedKey(std::string_view word, std::size_t index) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%04zu", index);
  std::string key(word);
  key += digits;
  return key;
}

cv::Point2f centredUnit(cv::Point2f pixel, cv::Size size) {
  const float w = static_cast<float>(size.width);
  const float h = static_cast<float>(size.height);
  const float x = (pixel.x + w * -0.5f) / (w * 0.5f);
  const float y = (((pixel.y + h * -0.5f) / (h * 0.5f)) * h) / w;
  return {x, y};
}

}  // namespace cvcomp
