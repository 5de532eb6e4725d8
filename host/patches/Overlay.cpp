#include "Overlay.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include <opencv2/imgproc.hpp>

#include "CentredShapes.hpp"
#include "host/QCImage.hpp"

namespace cvcomp {

namespace {

void drawMember(cv::Mat& picture, const QCStructure& member, int thickness) {
  const cv::Size size = picture.size();
  const MemberCoordinates c(member);
  if (const std::optional<cv::Rect> rectangle = pixelRectangle(c, size)) {
    cv::rectangle(picture, rectangle->tl(), rectangle->br(), cv::Scalar(0, 255, 0, 255), thickness);
  } else if (c.x1 && c.y1 && c.x2 && c.y2) {
    cv::line(picture, pixelPoint(*c.x1, *c.y1, size), pixelPoint(*c.x2, *c.y2, size),
             cv::Scalar(0, 0, 255, 255), thickness);
  } else if (c.x && c.y) {
    const cv::Point at = pixelPoint(*c.x, *c.y, size);
    if (c.px && c.py) {
      cv::line(picture, pixelPoint(*c.px, *c.py, size), at, cv::Scalar(255, 255, 0, 255),
               thickness);
    }
    cv::circle(picture, at, 2 * thickness, cv::Scalar(0, 255, 255, 255), thickness);
  }
}

}  // namespace

bool Overlay::execute(QCContext& /*context*/, double /*time*/, const QCStructure& /*arguments*/) {
  const std::shared_ptr<QCImage>& image = inputImage.imageValue();
  const std::shared_ptr<QCStructure>& structure = inputStructure.structureValue();
  if (!image || !structure || structure->count() == 0) {
    outputImage.setImageValue(image);
    return true;
  }
  const auto rep = image->createRepresentationOfType(QCImage::kBitmapRepresentation);
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

  const int thickness = std::max(1, picture.cols / 320);
  for (const auto& [key, value] : structure->members()) {
    if (const auto* member = std::get_if<std::shared_ptr<QCStructure>>(&value); member && *member) {
      drawMember(picture, **member, thickness);
    }
  }
  outputImage.setImageValue(std::make_shared<QCImage>(std::move(bitmap)));
  return true;
}

}  // namespace cvcomp
