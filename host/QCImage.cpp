#include "QCImage.hpp"

#include <cstring>

#include "PixelMemory.hpp"

namespace cvcomp {

Bitmap Bitmap::allocate(std::size_t width, std::size_t height) {
  const std::size_t bytesPerRow = width * 4;
  return {acquirePixelMemory(bytesPerRow * height), width, height, bytesPerRow};
}

QCImage::QCImage(std::shared_ptr<QCImagePixelBuffer> buffer)
    : buffer_(std::move(buffer)),
      bounds_{0.0, 0.0, static_cast<double>(buffer_->pixelsWide()),
              static_cast<double>(buffer_->pixelsHigh())} {}

QCImage::QCImage(Bitmap bitmap)
    : QCImage(bitmap,
              {0.0, 0.0, static_cast<double>(bitmap.width), static_cast<double>(bitmap.height)}) {}

QCImage::QCImage(Bitmap bitmap, QCRect bounds) : bitmap_(std::move(bitmap)), bounds_(bounds) {}

std::unique_ptr<BitmapRepresentation> QCImage::createRepresentationOfType(
    std::string_view type) const {
  if (type != kBitmapRepresentation) return nullptr;
  if (!buffer_) return std::make_unique<BitmapRepresentation>(bitmap_);

  // Pixel buffers hold their rows bottom-up; the bitmap shows them top-down.
  const std::size_t width = buffer_->pixelsWide();
  const std::size_t height = buffer_->pixelsHigh();
  Bitmap upright = Bitmap::allocate(width, height);
  for (std::size_t y = 0; y < height; ++y) {
    std::memcpy(upright.row(y), buffer_->pixels() + (height - 1 - y) * buffer_->bytesPerRow(),
                upright.bytesPerRow);
  }
  return std::make_unique<BitmapRepresentation>(std::move(upright));
}

}  // namespace cvcomp
