#pragma once

#include <cstddef>
#include <vector>

#include <opencv2/core.hpp>

namespace cvcomp {

// A count of the squares OpenCV's chessboard search would take from a picture. That search
// thresholds the picture dozens of times, takes each dark blob whose outline simplifies to a
// convex quadrilateral of 25 pixels' box as a square, and compares every such square with every
// other: its cost grows with the square of their number, 23 s on a 640 × 480 picture of 7,000
// small dots beside a board. This count thresholds the picture as the search begins to (a global
// threshold, dilated as in its first pass, and its first adaptive or mean thresholds, with an
// adaptive one of the block the board's squares would give it) and takes the squares as it does.
class ChessboardQuadCount {
 public:
  // Whether every thresholding of `gray` counted gives fewer than `most` squares, for the
  // search's `flags` and the board's squares of `square` pixels (0 where not known).
  bool fewerThan(const cv::Mat& gray, int flags, float square, std::size_t most);

 private:
  // Whether `binary` (dark on light) gives fewer than `most` squares.
  bool fewerIn(const cv::Mat& binary, std::size_t most);

  cv::Mat equalized_, binary_, outlined_;
  std::vector<std::vector<cv::Point>> outlines_;
  std::vector<cv::Vec4i> hierarchy_;
  std::vector<cv::Point> simplified_, again_;
};

}  // namespace cvcomp
