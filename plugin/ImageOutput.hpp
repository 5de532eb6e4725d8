#pragma once

#include <opencv2/core.hpp>

#include "ImageBuffer.hpp"
#include "OpenCVGuard.hpp"
#include "OpenCVTypePort.hpp"
#include "host/QCPatch.hpp"

namespace cvcomp {

// An image output port together with the buffer that its patch owns and publishes on it: the
// absent-input rule, buffer reuse and publishing, shared by every patch that outputs an image.
class ImageOutput {
 public:
  explicit ImageOutput(OpenCVImagePort& port) : port_(port) {}

  // Absent or unsuitable input: the buffer is released and the port carries nil.
  void absent();
  // Releases the buffer and leaves the port as it is.
  void release() { buffer_.release(); }

  // Makes sure the buffer has `size` and `type` (reusing it when it has and `mayReuse` holds),
  // runs `render(buffer)` under the OpenCV guard and publishes the buffer in a new box. After an
  // OpenCV error a buffer is published with what it held before; a buffer that nothing has ever
  // written is not published: the port carries nil instead.
  template <class Render>
  void produce(cv::Size size, int type, Render&& render, bool mayReuse = true) {
    const bool ok = guardOpenCV(port_.patch().className(), [&] {
      const cv::Mat& destination = buffer_.prepare(size, type, mayReuse);
      render(destination);
    });
    if (ok) buffer_.markWritten();
    publish();
  }

  // A new box around the buffer, or nil when the buffer has no content.
  void publish();

  const ImageBuffer& buffer() const { return buffer_; }

 private:
  OpenCVImagePort& port_;
  ImageBuffer buffer_;
};

// Reading an image input: the image in the port's box, or nullptr when the port carries nil, the
// box holds null, or the image holds no pixels.
const cv::Mat* imageValue(const OpenCVImagePort& port);

}  // namespace cvcomp
