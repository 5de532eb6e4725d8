#include "ImageOutput.hpp"

namespace cvcomp {

void ImageOutput::absent() {
  buffer_.release();
  port_.setCvObjectValue(nullptr);
}

void ImageOutput::publish() {
  if (!buffer_.hasContent()) {
    port_.setCvObjectValue(nullptr);
    return;
  }
  port_.setCvObjectValue(std::make_shared<OpenCVObject>(buffer_.boxValue()));
}

const cv::Mat* imageValue(const OpenCVImagePort& port) {
  const std::shared_ptr<OpenCVObject> box = port.cvObjectValue();
  const auto* image = box ? static_cast<const cv::Mat*>(box->value()) : nullptr;
  return image && !image->empty() ? image : nullptr;
}

}  // namespace cvcomp
