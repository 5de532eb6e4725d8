#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include <opencv2/videoio.hpp>

#include "host/QCImage.hpp"
#include "host/QCImageManager.hpp"

namespace cvcomp {

class FrameWriterError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes host images, upright, to a video file, to numbered pictures when the name holds one
// printf-style frame number ("out/frame%05d.png"), or to one picture (the last frame) when the
// name is that of a picture ("out.png").
class FrameWriter {
 public:
  // Throws FrameWriterError for a name with a malformed number pattern.
  FrameWriter(std::string name, double fps);

  // Throws FrameWriterError when the file cannot be written.
  void write(const QCImage& image, QCImageManager& manager, std::uint64_t frame);
  std::uint64_t written() const { return written_; }

 private:
  std::string name_;
  bool numbered_;
  bool picture_;
  double fps_;
  cv::VideoWriter video_;
  cv::Size videoSize_;
  cv::Mat bgr_;
  std::uint64_t written_ = 0;
};

}  // namespace cvcomp
