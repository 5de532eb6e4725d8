#pragma once

#include <opencv2/core/types.hpp>

// The centred unit of the coordinates that the plug-in publishes, in both directions. For a
// w × h image the origin is the image centre, one unit is half the image width on both axes and
// Y grows with the row index: X = (x − w/2) / (w/2), Y = (2y − h) / w. Sizes are given in half
// the image width (W) and half the image height (H).
//
// Each conversion is computed in a fixed order of operations, which decides the last bit of
// every published value; the two orders of the single-precision Y differ in the last bit for
// about 30 % of the rows of a 640 × 480 image, so each patch keeps the one that it has always
// published. The host holds it, so that its Overlay and the faces read published values back
// with the very convention that the plug-in publishes them in.

namespace cvcomp {

// Pixel to centred unit, in single precision with the aspect ratio applied last (the feature,
// corner and line finders): X = (x + w·(−0.5)) / (w·0.5),
// Y = (((y + h·(−0.5)) / (h·0.5)) · h) / w.
inline cv::Point2f centredUnit(cv::Point2f pixel, cv::Size size) {
  const float w = static_cast<float>(size.width);
  const float h = static_cast<float>(size.height);
  return {(pixel.x + w * -0.5f) / (w * 0.5f), (((pixel.y + h * -0.5f) / (h * 0.5f)) * h) / w};
}

// Pixel to centred unit, in single precision with the aspect ratio as one factor (the tracker
// and the detector): X as in centredUnit, Y = ((y + h·(−0.5)) / (h·0.5)) · (h / w).
inline cv::Point2f centredUnitByAspect(cv::Point2f pixel, cv::Size size) {
  const float w = static_cast<float>(size.width);
  const float h = static_cast<float>(size.height);
  return {(pixel.x + w * -0.5f) / (w * 0.5f), ((pixel.y + h * -0.5f) / (h * 0.5f)) * (h / w)};
}

// Centred unit to pixel (the tracker's reading of points), in single precision from the unit
// narrowed to single precision, except that Y·w/h is formed in double precision:
// x = (X + 1)·w·0.5, y = (Y·w/h + 1)·h·0.5.
inline cv::Point2f pixelOfCentredUnit(cv::Point2d unit, cv::Size size) {
  const float w = static_cast<float>(size.width);
  const float h = static_cast<float>(size.height);
  const float yw = static_cast<float>(unit.y * static_cast<double>(size.width) /
                                      static_cast<double>(size.height));
  return {(static_cast<float>(unit.x) + 1.0f) * w * 0.5f, (yw + 1.0f) * h * 0.5f};
}

// Centred unit to pixel in double precision, for drawing: x = (X + 1)·w / 2, y = (Y·w + h) / 2.
inline cv::Point2d pixelOfCentredUnitPrecise(cv::Point2d unit, cv::Size size) {
  const double w = size.width;
  const double h = size.height;
  return {(unit.x + 1.0) * w / 2.0, (unit.y * w + h) / 2.0};
}

// The size of a rectangle of `extent` pixels in centred units, in double precision:
// W = 2·width / w, H = 2·height / h.
inline cv::Point2d centredExtent(cv::Size extent, cv::Size size) {
  return {2.0 * extent.width / size.width, 2.0 * extent.height / size.height};
}

// Half the pixel size of a rectangle of centred size (W, H), in double precision: W·w / 4 and
// H·h / 4.
inline cv::Point2d pixelHalfExtent(cv::Point2d extent, cv::Size size) {
  return {extent.x * size.width / 4.0, extent.y * size.height / 4.0};
}

}  // namespace cvcomp
