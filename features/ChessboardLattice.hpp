#pragma once

#include <array>
#include <optional>

#include <opencv2/core.hpp>

namespace cvcomp {

// A quick look for the corners of a calibration chessboard, to spare OpenCV's search where there
// is none: that search runs dozens of thresholdings, each followed by work that grows with the
// square of the dark blobs found, and spends minutes on a large picture of noise, texture or
// text. This look costs a few passes over the pixels, whatever the picture holds.
//
// It finds the points where two dark and two light squares meet (on every level of an image
// pyramid, so that squares from a few pixels to the whole picture, blurred boards and boards seen
// at a slant are seen), links each such corner to the two on either side of it along a board
// edge, and measures the largest group of linked corners.
class ChessboardLattice {
 public:
  // Where a board may lie: the part of the picture that holds the largest group of linked corners
  // and as much of the board around it as the pattern's corners it lacks could take, and the side
  // of the board's squares there, in pixels (0 where the picture was not judged).
  struct Sighting {
    cv::Rect area;
    float square = 0.0f;
  };

  // Where `gray` (8-bit, one channel) may hold a board of `pattern` inner corners, if it may and
  // OpenCV's search of it stays bounded: a group of at least a quarter of its corners, and of at
  // least 8, while the groups that large hold at most four times the pattern's corners (a picture
  // of many boards side by side would cost OpenCV's search hours). A picture less than 15 pixels
  // wide or high is not judged: its sighting is the whole picture, so that the search answers or
  // reports it.
  std::optional<Sighting> look(const cv::Mat& gray, cv::Size pattern);

 private:
  // Two levels of the pyramid in turn and a level halved along one axis, kept from frame to
  // frame.
  cv::Mat squeezed_;
  std::array<cv::Mat, 2> levels_;
};

}  // namespace cvcomp
