#include "MemoryFrames.hpp"

#include <memory>

namespace cvcomp::bench {

void MemoryFrames::setFrames(const std::vector<Bitmap>& frames) {
  frames_ = &frames;
  next_ = 0;
}

bool MemoryFrames::execute(QCContext& /*context*/, double /*time*/,
                           const QCStructure& /*arguments*/) {
  if (!frames_ || next_ >= frames_->size()) {
    outputImage.setImageValue(nullptr);
    return true;
  }
  outputImage.setImageValue(std::make_shared<QCImage>((*frames_)[next_++]));
  return true;
}

}  // namespace cvcomp::bench
