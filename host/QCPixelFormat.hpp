#pragma once

#include <cstddef>
#include <string_view>

namespace cvcomp {

// Pixel layout of a host pixel buffer. The host offers one: BGRX8, four 8-bit bytes per pixel in
// the order blue, green, red, and a fourth byte that the host does not interpret.
class QCPixelFormat {
 public:
  static const QCPixelFormat* pixelFormatBGRX8();

  std::string_view name() const { return name_; }
  std::size_t bytesPerPixel() const { return bytesPerPixel_; }

 private:
  QCPixelFormat(std::string_view name, std::size_t bytesPerPixel)
      : name_(name), bytesPerPixel_(bytesPerPixel) {}
  std::string_view name_;
  std::size_t bytesPerPixel_;
};

}  // namespace cvcomp
