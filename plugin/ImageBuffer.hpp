#pragma once

#include <cstdint>

#include <opencv2/core.hpp>

namespace cvcomp {

// An OpenCV image that a patch owns and keeps from frame to frame. It is reallocated only when
// the needed size or type changes, and it remembers whether anything has written it since.
//
// The buffer is handed to OpenCV as a fixed destination (a const cv::Mat&): OpenCV writes into it
// but never reallocates it, so a call whose result would not fit fails with OpenCV's own error
// report instead of silently replacing the buffer.
class ImageBuffer {
 public:
  // Keeps the buffer when it exists with `size` and `type` and `mayReuse` holds; otherwise
  // releases it and allocates a new one, which has no content yet.
  const cv::Mat& prepare(cv::Size size, int type, bool mayReuse = true);
  void release();

  bool exists() const { return !mat_.empty(); }
  bool hasContent() const { return exists() && written_; }
  void markWritten() { written_ = true; }

  const cv::Mat& mat() const { return mat_; }
  // The buffer as the untyped pointer that a box carries.
  void* boxValue() { return &mat_; }

  // Buffers allocated by all patches of the process so far; steady-state frames must add none.
  static std::uint64_t allocationCount();

 private:
  cv::Mat mat_;
  bool written_ = false;
};

}  // namespace cvcomp
