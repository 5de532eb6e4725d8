#include "QCImageToOpenCVImage.hpp"

#include <cmath>

#include "host/QCImage.hpp"

namespace cvcomp {

namespace {
// The flip code of cv::flip for each flip mode; mode 2 is a plain copy.
constexpr int kPlainCopy = 2;
int flipCode(std::size_t mode) {
  switch (mode) {
    case 1:
      return -1;
    case 3:
      return 1;
    default:
      return 0;
  }
}

bool isPixelSize(double extent) {
  return std::isfinite(extent) && extent >= 1.0 && extent < 1e9;
}
}  // namespace

QCImageToOpenCVImage::QCImageToOpenCVImage(std::string identifier)
    : OpenCVPatch(std::move(identifier)) {
  inputFlip.setMaxIndexValue(3);
}

bool QCImageToOpenCVImage::execute(QCContext& /*context*/, double /*time*/,
                                   const QCStructure& /*arguments*/) {
  const std::shared_ptr<QCImage>& image = inputImage.imageValue();
  // An image whose bounds are not a positive, finite pixel size has no pixels to copy either.
  const QCRect bounds = image ? image->bounds() : QCRect{};
  if (!isPixelSize(bounds.width) || !isPixelSize(bounds.height)) {
    img.absent();
    return true;
  }

  const cv::Size size(static_cast<int>(bounds.width), static_cast<int>(bounds.height));
  // A fractional bounds size never equals the buffer's, so such a buffer is made anew each frame.
  const bool sameBounds = static_cast<double>(size.width) == bounds.width &&
                          static_cast<double>(size.height) == bounds.height;

  const std::unique_ptr<BitmapRepresentation> bitmap =
      image->createRepresentationOfType(QCImage::kBitmapRepresentation);
  // Without a bitmap of at least the bounds' size there is nothing that may be read; the copy
  // then fails inside OpenCV on an empty source.
  cv::Mat source;
  if (bitmap && bitmap->pixelsWide() >= static_cast<std::size_t>(size.width) &&
      bitmap->pixelsHigh() >= static_cast<std::size_t>(size.height)) {
    source = cv::Mat(size, CV_8UC4, bitmap->bitmapData(), bitmap->bytesPerRow());
  }

  const std::size_t mode = inputFlip.indexValue();
  img.produce(
      size, CV_8UC4,
      [&](const cv::Mat& destination) {
        if (mode == kPlainCopy) {
          source.copyTo(destination);
        } else {
          cv::flip(source, destination, flipCode(mode));
        }
      },
      sameBounds);
  return true;
}

}  // namespace cvcomp
