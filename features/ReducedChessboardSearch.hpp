#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace cvcomp {

// OpenCV's search for the inner corners of a chessboard, within a second a frame on pictures up
// to 4096 × 4096. OpenCV's search runs dozens of thresholdings over the whole picture: where it
// does not find the board early, it costs some 0.2 µs a pixel here (over 2 s for a real board
// enlarged to 4096 × 3072). Pictures up to kLargestSearched pixels are searched as they are, and
// get exactly OpenCV's corners. A larger one is searched on a copy reduced by the smallest whole
// factor that brings it within kLargestSearched (by averaging, INTER_AREA); the corners found there
// are mapped back and refined on the full picture (cv::cornerSubPix, its window scaled by the
// factor), in the order OpenCV's search gives them.
class ReducedChessboardSearch {
 public:
  // The pixels of the largest picture searched as it is.
  static constexpr double kLargestSearched = 2048.0 * 2048.0;

  // OpenCV's search of `image` for `pattern` with `flags`: whether it found every corner, and in
  // `corners` what it found (a partial find included). Throws OpenCV's error on an image it
  // refuses.
  bool find(const cv::Mat& image, cv::Size pattern, int flags, std::vector<cv::Point2f>& corners);

 private:
  // The full picture in gray and the reduced copy, kept from frame to frame.
  cv::Mat gray_, reduced_;
};

}  // namespace cvcomp
