#include "QCImagePixelBuffer.hpp"

#include "PixelMemory.hpp"

namespace cvcomp {

namespace {
// Rows are padded to 16 bytes, so row starts stay aligned for vectorised copies.
std::size_t paddedRow(std::size_t bytes) {
  return (bytes + 15) / 16 * 16;
}
}  // namespace

QCImagePixelBuffer::QCImagePixelBuffer(const QCPixelFormat* format, std::size_t width,
                                       std::size_t height)
    : format_(format),
      width_(width),
      height_(height),
      bytesPerRow_(paddedRow(width * format->bytesPerPixel())),
      pixels_(acquirePixelMemory(bytesPerRow_ * height)) {}

}  // namespace cvcomp
