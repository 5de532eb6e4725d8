#pragma once

#include <vector>

#include <opencv2/core.hpp>

namespace cvcomp {

// OpenCV's search for the inner corners of a chessboard, within a second a frame on real boards up
// to 4096 × 4096 (not on every picture: a board partly hidden in a field of fine noise still
// costs seconds, the noise's dark blobs compared with each other on every thresholding). OpenCV's
// search runs dozens of thresholdings over the whole picture: where it does not find the board
// early it costs up to some 0.25 µs a pixel here, more than 2 s on a real board enlarged to
// 4096 × 3072. Pictures up to kLargestSearched pixels are searched as they are,
// and get exactly OpenCV's corners. A larger one is searched on a copy reduced by the smallest
// whole factor that brings it within kLargestSearched (by averaging, INTER_AREA); the corners
// found there are mapped back and, where the whole board was found, refined on the full picture
// (cv::cornerSubPix, its window an eighth of the shortest side of a square), in the order
// OpenCV's search gives them. A board whose squares the reduction shrinks under some 5 pixels is
// not found.
class ReducedChessboardSearch {
 public:
  // The pixels of the largest picture searched as it is: the calibration views enlarged three
  // times (1920 × 1440), on which OpenCV's search takes at most 0.71 s of processor time here
  // (right13, not found; 1.1 s at four times, 0.98 s at 2048 × 2048).
  static constexpr double kLargestSearched = 1920.0 * 1440.0;

  // OpenCV's search of `image` for `pattern` with `flags`: whether it found every corner, and in
  // `corners` what it found (a partial find included). Throws OpenCV's error on an image it
  // refuses.
  bool find(const cv::Mat& image, cv::Size pattern, int flags, std::vector<cv::Point2f>& corners);

 private:
  // The full picture in gray and the reduced copy, kept from frame to frame.
  cv::Mat gray_, reduced_;
};

}  // namespace cvcomp
