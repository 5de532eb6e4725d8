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

  // A pixel buffer is filled once, right after it is created, and its pixels are shown as they
  // are: the host neither keeps older contents nor matches colours.
  bool beginUpdatePixels() {
    updating_ = true;
    return true;
  }
  void* baseAddress() { return updating_ ? pixels_.get() : nullptr; }
  void endUpdatePixels() { updating_ = false; }

  const std::uint8_t* pixels() const { return pixels_.get(); }

 private:
  const QCPixelFormat* format_;
  std::size_t width_;
  std::size_t height_;
  std::size_t bytesPerRow_;
  std::shared_ptr<std::uint8_t[]> pixels_;
  bool updating_ = false;
};

}  // namespace cvcomp
