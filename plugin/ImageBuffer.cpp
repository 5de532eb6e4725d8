#include "ImageBuffer.hpp"

#include <atomic>

namespace cvcomp {

namespace {
std::atomic<std::uint64_t> allocations{0};
}

const cv::Mat& ImageBuffer::prepare(cv::Size size, int type, bool mayReuse) {
  if (mayReuse && exists() && mat_.size() == size && mat_.type() == type) return mat_;
  release();
  mat_.create(size, type);
  ++allocations;
  return mat_;
}

void ImageBuffer::release() {
  mat_.release();
  written_ = false;
}

std::uint64_t ImageBuffer::allocationCount() {
  return allocations;
}

}  // namespace cvcomp
