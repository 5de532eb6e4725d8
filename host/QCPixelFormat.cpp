#include "QCPixelFormat.hpp"

namespace cvcomp {

const QCPixelFormat* QCPixelFormat::pixelFormatBGRX8() {
  static const QCPixelFormat format{"BGRX8", 4};
  return &format;
}

}  // namespace cvcomp
