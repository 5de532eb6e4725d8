#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "host/QCImage.hpp"

namespace cvcomp::bench {

// A hand-written frame loop: the OpenCV calls that an example composition makes, with the same
// argument values, on the same frames, without the host and the patch conventions around them.
// Buffers are kept from frame to frame, as a careful hand-written program keeps them.
class HandLoop {
 public:
  virtual ~HandLoop() = default;
  // Processes frame `index` (top-down BGRA, as the host's frame reader delivers it).
  virtual void process(const Bitmap& frame, std::uint64_t index) = 0;
  // Writes the frame's results as one JSON line, as the runner writes its published outputs.
  virtual void writeLine(std::ostream& out, std::uint64_t index, double time) const;
};

std::unique_ptr<HandLoop> faceLoop(double imageScale);
// Corners of quality `quality` at least 10 pixels apart, found on frame 0 and tracked after.
std::unique_ptr<HandLoop> trackLoop(std::size_t maxPoints, double quality = 0.01);
std::unique_ptr<HandLoop> edgesLoop();
std::unique_ptr<HandLoop> chessboardLoop();
// Resizing to 320 × 240 (the resize patch's default size), back to a host image.
std::unique_ptr<HandLoop> resizeLoop();
// Log-polar of a `size` frame around its centre with magnitude 80 into 512 × 720, back to
// Cartesian at `size`, both results back to host images.
std::unique_ptr<HandLoop> logPolarLoop(int width, int height);
std::unique_ptr<HandLoop> grayLoop();

}  // namespace cvcomp::bench
