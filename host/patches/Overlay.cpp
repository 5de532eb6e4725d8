#include "Overlay.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include <opencv2/imgproc.hpp>

#include "host/QCImage.hpp"

namespace cvcomp {

namespace {

// Maps centred, Y-up unit coordinates to pixel positions of a top-down picture.
struct Frame {
  double w;
  double h;
  cv::Point2d pixel(double x, double y) const {
    return {(x + 1.0) * w / 2.0, h - (y * w + h) / 2.0};
  }
};

std::optional<double> number(const QCStructure& member, std::string_view key) {
  const QCNumber* found = member.numberForKey(key);
  if (!found || !std::isfinite(found->value)) return std::nullopt;
  return found->value;
}

cv::Point toPoint(cv::Point2d p) {
  // Far-off points are kept within a range that drawing handles without overflow.
  auto clampAxis = [](double v) { return static_cast<int>(std::lround(std::clamp(v, -1e6, 1e6))); };
  return {clampAxis(p.x), clampAxis(p.y)};
}

void drawMember(cv::Mat& picture, const Frame& frame, const QCStructure& member, int thickness) {
  const auto x = number(member, "X"), y = number(member, "Y");
  const auto w = number(member, "W"), h = number(member, "H");
  const auto x1 = number(member, "X1"), y1 = number(member, "Y1");
  const auto x2 = number(member, "X2"), y2 = number(member, "Y2");
  const auto px = number(member, "pX"), py = number(member, "pY");
  if (x && y && w && h) {
    const cv::Point2d centre = frame.pixel(*x, *y);
    const cv::Point2d half(*w * frame.w / 4.0, *h * frame.h / 4.0);
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
  Bitmap bitmap = Bitmap::allocate(rep->pixelsWide(), rep->pixelsHigh());
  const cv::Mat source(static_cast<int>(rep->pixelsHigh()), static_cast<int>(rep->pixelsWide()),
                       CV_8UC4, rep->bitmapData(), rep->bytesPerRow());
  cv::Mat picture(source.size(), CV_8UC4, bitmap.data.get(), bitmap.bytesPerRow);
  source.copyTo(picture);

  const Frame frame{static_cast<double>(picture.cols), static_cast<double>(picture.rows)};
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
