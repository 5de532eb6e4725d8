#include "CentredShapes.hpp"

#include <algorithm>
#include <cmath>
#include <string_view>

#include "host/CentredUnit.hpp"

namespace cvcomp {

namespace {

std::optional<double>* slotFor(MemberCoordinates& coordinates, std::string_view key) {
  if (key == "X") return &coordinates.x;
  if (key == "Y") return &coordinates.y;
  if (key == "W") return &coordinates.w;
  if (key == "H") return &coordinates.h;
  if (key == "X1") return &coordinates.x1;
  if (key == "Y1") return &coordinates.y1;
  if (key == "X2") return &coordinates.x2;
  if (key == "Y2") return &coordinates.y2;
  if (key == "pX") return &coordinates.px;
  if (key == "pY") return &coordinates.py;
  return nullptr;
}

// A point in centred units at its pixel position, Y flipped to grow downwards.
cv::Point2d pixelOf(double x, double y, cv::Size picture) {
  const cv::Point2d up = pixelOfCentredUnitPrecise({x, y}, picture);
  return {up.x, picture.height - up.y};
}

cv::Point rounded(cv::Point2d p) {
  auto clampAxis = [](double v) { return static_cast<int>(std::lround(std::clamp(v, -1e6, 1e6))); };
  return {clampAxis(p.x), clampAxis(p.y)};
}

}  // namespace

MemberCoordinates::MemberCoordinates(const QCStructure& member) {
  for (const auto& [key, value] : member.members()) {
    const auto* number = std::get_if<QCNumber>(&value);
    if (!number || !std::isfinite(number->value)) continue;
    if (std::optional<double>* slot = slotFor(*this, key)) *slot = number->value;
  }
}

cv::Point pixelPoint(double x, double y, cv::Size picture) {
  return rounded(pixelOf(x, y, picture));
}

std::optional<cv::Rect> pixelRectangle(const MemberCoordinates& member, cv::Size picture) {
  if (!member.x || !member.y || !member.w || !member.h) return std::nullopt;
  const cv::Point2d centre = pixelOf(*member.x, *member.y, picture);
  const cv::Point2d half = pixelHalfExtent({*member.w, *member.h}, picture);
  return cv::Rect(rounded(centre - half), rounded(centre + half));
}

}  // namespace cvcomp
