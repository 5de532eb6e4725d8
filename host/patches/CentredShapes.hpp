#pragma once

// The shapes that result structures describe in centred units (origin at the picture's centre,
// one unit half the picture's width, Y pointing up; a rectangle's W and H in half the picture's
// width and height), placed on the pixels of a top-down picture.

#include <optional>

#include <opencv2/core/types.hpp>

#include "host/QCStructure.hpp"

namespace cvcomp {

// The coordinates a result structure's member may carry, read in one pass over its members:
// X, Y, W, H (a rectangle), X1, Y1, X2, Y2 (a segment), X, Y with pX, pY (a point and where it
// was before). Missing or non-finite ones stay empty.
struct MemberCoordinates {
  std::optional<double> x, y, w, h, x1, y1, x2, y2, px, py;

  explicit MemberCoordinates(const QCStructure& member);
};

// The pixel nearest to a point, kept within ±1e6 so that far-off points can still be drawn.
cv::Point pixelPoint(double x, double y, cv::Size picture);

// The rectangle of a member with X, Y, W and H, its corners rounded to whole pixels; nothing for
// any other member.
std::optional<cv::Rect> pixelRectangle(const MemberCoordinates& member, cv::Size picture);

}  // namespace cvcomp
