#include "QCImageManager.hpp"

namespace cvcomp {

std::shared_ptr<QCImagePixelBuffer> QCImageManager::createPixelBufferWithFormat(
    const QCPixelFormat* format, std::size_t pixelsWide, std::size_t pixelsHigh) {
  if (!format || pixelsWide == 0 || pixelsHigh == 0) return nullptr;
  return std::make_shared<QCImagePixelBuffer>(format, pixelsWide, pixelsHigh);
}

}  // namespace cvcomp
