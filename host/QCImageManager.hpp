#pragma once

#include <cstddef>
#include <memory>

#include "QCImagePixelBuffer.hpp"

namespace cvcomp {

class QCImageManager {
 public:
  // The caller owns the new buffer. Returns nullptr for a zero-sized buffer or a missing format.
  std::shared_ptr<QCImagePixelBuffer> createPixelBufferWithFormat(const QCPixelFormat* format,
                                                                  std::size_t pixelsWide,
                                                                  std::size_t pixelsHigh);
};

// What a patch's execute receives from the host besides the time and the arguments.
class QCContext {
 public:
  QCImageManager& imageManager() { return imageManager_; }

 private:
  QCImageManager imageManager_;
};

}  // namespace cvcomp
