#include "Overlay.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include <opencv2/imgproc.hpp>

#include "host/QCImage.hpp"
#include "plugin/CentredUnit.hpp"

namespace cvcomp {

namespace {

// Maps centred unit coordinates, whose Y points up on the picture, to pixel positions of a
// top-down picture.
struct Frame {
  cv::Size size;
  cv::Point2d pixel(double x, double y) const {
    const cv::Point2d up = pixelOfCentredUnitPrecise({x, y}, size);
    return {up.x, size.height - up.y};
  }
};

// The coordinates a member may carry, read in one pass over its members; missing or non-finite
// ones stay empty.
struct Coordinates {
  std::optional<double> x, y, w, h, x1, y1, x2, y2, px, py;

  explicit Coordinates(const QCStructure& member) {
    for (const auto& [key, value] : member.members()) {
      const auto* number = std::get_if<QCNumber>(&value);
      if (!number || !std::isfinite(number->value)) continue;
      if (std::optional<double>* slot = slotFor(key)) *slot = number->value;
    }
  }

 private:
  std::optional<double>* slotFor(std::string_view key) {
    if (key == "X") return &x;
    if (key == "Y") return &y;
    if (key == "W") return &w;
    if (key == "H") return &h;
    if (key == "X1") return &x1;
    if (key == "Y1") return &y1;
    if (key == "X2") return &x2;
    if (key == "Y2") return &y2;
    if (key == "pX") return &px;
    if (key == "pY") return &py;
    return nullptr;
  }
};

cv::Point toPoint(cv::Point2d p) {
  // Far-off points are kept within a range that drawing handles without overflow.
  auto clampAxis = [](double v) { return static_cast<int>(std::lround(std::clamp(v, -1e6, 1e6))); };
  return {clampAxis(p.x), clampAxis(p.y)};
}

void drawMember(cv::Mat& picture, const Frame& frame, const QCStructure& member, int thickness) {
  const auto [x, y, w, h, x1, y1, x2, y2, px, py] = Coordinates(member);
  if (x && y && w && h) {
    const cv::Point2d centre = frame.pixel(*x, *y);
    const cv::Point2d half = pixelHalfExtent({*w, *h}, frame.size);
    cv::rectangle(picture, toPoint(centre - half), toPoint(centre + half),
                  cv::Scalar(0, 255, 0, 255), thickness);
  } else if (x1 && y1 && x2 && y2) {
    cv::line(picture, toPoint(frame.pixel(*x1, *y1)), toPoint(frame.pixel(*x2, *y2)),
             cv::Scalar(0, 0, 255, 255), thickness);
  } else if (x && y) {
    const cv::Point at = toPoint(frame.pixel(*x, *y));
    if (px && py) {
      cv::line(picture, toPoint(frame.pixel(*px, *py)), at, cv::Scalar(255, 255, 0, 255),
               thickness);
    }
    cv::circle(picture, at, 2 * thickness, cv::Scalar(0, 255, 255, 255), thickness);
  }
}

}  // namespace

bool Overlay::execute(QCContext& context, double /*time*/, const QCStructure& /*arguments*/) {
  const std::shared_ptr<QCImage>& image = inputImage.imageValue();
  const std::shared_ptr<QCStructure>& structure = inputStructure.structureValue();
  if (!image || !structure || structure->count() == 0) {
    outputImage.setImageValue(image);
    return true;
  }
  const auto rep = image->createRepresentationOfType(QCImage::kBitmapRepresentation,
                                                     context.imageManager(), nullptr);
  if (!rep) {
    outputImage.setImageValue(image);
    return true;
  }
  // The last picture is let go of first, so that its memory serves the new one when nobody else
  // holds it.
  outputImage.setImageValue(nullptr);
  Bitmap bitmap = Bitmap::allocate(rep->pixelsWide(), rep->pixelsHigh());
  const cv::Mat source(static_cast<int>(rep->pixelsHigh()), static_cast<int>(rep->pixelsWide()),
                       CV_8UC4, rep->bitmapData(), rep->bytesPerRow());
  cv::Mat picture(source.size(), CV_8UC4, bitmap.data.get(), bitmap.bytesPerRow);
  source.copyTo(picture);

  const Frame frame{picture.size()};
  const int thickness = std::max(1, picture.cols / 320);
  for (const auto& [key, value] : structure->members()) {
    if (const auto* member = std::get_if<std::shared_ptr<QCStructure>>(&value); member && *member) {
      drawMember(picture, frame, **member, thickness);
    }
  }
  outputImage.setImageValue(std::make_shared<QCImage>(std::move(bitmap)));
  return true;
}

}  // namespace cvcomp
