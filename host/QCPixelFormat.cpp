#include "QCPixelFormat.hpp"

namespace cvcomp {

const QCPixelFormat* QCPixelFormat::pixelFormatBGRX8() {
  static const QCPixelFormat format{"BGRX8", 4};
  return &format;
}

std::shared_ptr<const ColorSpace> ColorSpace::createWithName(std::string_view name) {
  return std::shared_ptr<const ColorSpace>(new ColorSpace(name));
}

}  // namespace cvcomp
