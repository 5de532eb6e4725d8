#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "QCPixelFormat.hpp"

namespace cvcomp {

// Pixel memory of a host image. Rows are stored bottom-up: the first row in memory is the bottom
// row of the picture, as in a GPU texture. The memory is writable between beginUpdatePixels and
// endUpdatePixels.
class QCImagePixelBuffer {
 public:
  QCImagePixelBuffer(const QCPixelFormat* format, std::size_t width, std::size_t height);

  const QCPixelFormat* format() const { return format_; }
  std::size_t pixelsWide() const { return width_; }
  std::size_t pixelsHigh() const { return height_; }
  std::size_t bytesPerRow() const { return bytesPerRow_; }

  // `replaceAll` tells that the caller writes every pixel; the host keeps no older contents anyway,
  // since a pixel buffer is filled once, right after it is created.
  bool beginUpdatePixels(bool replaceAll, std::shared_ptr<const ColorSpace> colorSpace);
  void* baseAddress() { return updating_ ? pixels_.get() : nullptr; }
  void endUpdatePixels() { updating_ = false; }

  const std::uint8_t* pixels() const { return pixels_.get(); }
  const std::shared_ptr<const ColorSpace>& colorSpace() const { return colorSpace_; }

 private:
  const QCPixelFormat* format_;
  std::size_t width_;
  std::size_t height_;
  std::size_t bytesPerRow_;
  std::shared_ptr<std::uint8_t[]> pixels_;
  std::shared_ptr<const ColorSpace> colorSpace_;
  bool updating_ = false;
};

}  // namespace cvcomp
