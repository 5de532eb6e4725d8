#pragma once

#include <cstddef>
#include <memory>
#include <string>
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

// A colour space tag attached to pixel buffers. Held by reference count; a patch that creates one
// releases it by letting its pointer go.
class ColorSpace {
 public:
  static std::shared_ptr<const ColorSpace> createWithName(std::string_view name);
  const std::string& name() const { return name_; }

 private:
  explicit ColorSpace(std::string_view name) : name_(name) {}
  std::string name_;
};

inline constexpr std::string_view kColorSpaceGenericRGB = "GenericRGB";

}  // namespace cvcomp
