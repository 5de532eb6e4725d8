#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "ChessboardLattice.hpp"
#include "ChessboardQuadCount.hpp"

namespace cvcomp {

// OpenCV's search for the inner corners of a chessboard where a quick look (ChessboardLattice)
// sees a board, within a second a frame on any picture up to 4096 × 4096. That search thresholds
// the picture dozens of times and compares the squares it takes (ChessboardQuadCount) with each
// other on each: its cost grows with the square of their number, some 0.27 s for 600 of them, 23 s
// on a 640 × 480 picture of 7,000 small dots beside a board.
//
// A picture of up to kLargestSearched pixels whose thresholdings give fewer than kMostQuads
// squares is searched as it is, and gets exactly OpenCV's corners. Any other is searched in the
// area where the look saw the board, reduced (by averaging, INTER_AREA) to squares of some
// kSearchedSquare pixels within kLargestSearched pixels, and further, twice at a time, while it
// gives too many squares, down to kBoundedArea pixels, too few for many squares whatever they
// show. The corners found there are mapped back and, where the whole board was found, refined on
// the full picture (cv::cornerSubPix, in windows of a quarter and then an eighth of the shortest
// side of a square), in the order OpenCV's search gives them.
class BoundedChessboardSearch {
 public:
  // The largest picture OpenCV's search is given: on blurred noise beside a board it does not find
  // whole, giving fewer than kMostQuads squares, its search of 1024 × 768 took 0.77 s of processor
  // time here, too near a second; the patch's whole search of 800 × 600 at most 0.31 s.
  static constexpr double kLargestSearched = 800.0 * 600.0;
  // The calibration views give up to 140 squares (350 with noise of 4 gray levels added); pictures
  // that cost OpenCV's search more than 0.3 s, over 700.
  static constexpr std::size_t kMostQuads = 600;
  // The side of the squares an area is reduced to, half as large again as the calibration views'
  // own: OpenCV's search misses boards on the views reduced further.
  static constexpr float kSearchedSquare = 64.0f;
  // An area so small that even a picture of nothing but squares of 9 pixels with a pixel between
  // them (625 of them) costs OpenCV's search at most some 0.3 s.
  static constexpr double kBoundedArea = 100.0 * 100.0;

  // OpenCV's search of `image` for `pattern` with `flags`, where the look sees a board: whether it
  // found every corner, and in `corners` what it found (a partial find included; none where the
  // look sees no board). Throws OpenCV's error on an image it refuses.
  bool find(const cv::Mat& image, cv::Size pattern, int flags, std::vector<cv::Point2f>& corners);

 private:
  // `gray` reduced `factor` times along both axes (by averaging), or itself.
  const cv::Mat* reducedBy(const cv::Mat& gray, int factor);

  // The picture in gray and its area reduced, kept from frame to frame.
  cv::Mat gray_, reduced_;
  ChessboardLattice lattice_;
  ChessboardQuadCount quads_;
};

}  // namespace cvcomp
