#include "BoundedChessboardSearch.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace cvcomp {

namespace {

// The refinement on the full picture first looks a quarter of the shortest side of a square
// either side of each corner, which brings back an estimate that the reduced search placed a few
// of its pixels off, then an eighth, and never less than OpenCV's own window (2 pixels) scaled by
// the reduction: a board enlarged many times has corners blurred over many pixels, which a small
// window does not see across.
constexpr std::array<float, 2> kWindowsOfSquare{1.0f / 4.0f, 1.0f / 8.0f};
constexpr int kReducedWindow = 2;
constexpr int kIterations = 30;
constexpr double kAccuracy = 0.01;

// The smallest whole factor that brings `size` within `largest` pixels.
int reductionOf(cv::Size size, double largest) {
  int factor = std::max(1, static_cast<int>(std::ceil(std::sqrt(size.area() / largest))));
  while (static_cast<double>(size.width / factor) * (size.height / factor) > largest) ++factor;
  return factor;
}

// The shortest distance between neighbouring corners along a row or a column of the board.
float shortestSide(const std::vector<cv::Point2f>& corners, int width) {
  float shortest = INFINITY;
  const std::size_t across = static_cast<std::size_t>(width);
  for (std::size_t i = 0; i < corners.size(); ++i) {
    if ((i + 1) % across != 0) {
      shortest = std::min(shortest, static_cast<float>(cv::norm(corners[i + 1] - corners[i])));
    }
    if (i + across < corners.size()) {
      shortest = std::min(shortest, static_cast<float>(cv::norm(corners[i + across] - corners[i])));
    }
  }
  return shortest;
}

// `image` (8-bit, of 1, 3 or 4 channels) in gray, in `gray` where it must be converted.
const cv::Mat& grayOf(const cv::Mat& image, cv::Mat& gray) {
  if (image.channels() == 1) return image;
  cv::cvtColor(image, gray, image.channels() == 3 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
  return gray;
}

}  // namespace

const cv::Mat* BoundedChessboardSearch::reducedBy(const cv::Mat& gray, int factor) {
  if (factor <= 1) return &gray;
  cv::resize(gray, reduced_, cv::Size(gray.cols / factor, gray.rows / factor), 0.0, 0.0,
             cv::INTER_AREA);
  return &reduced_;
}

bool BoundedChessboardSearch::find(const cv::Mat& image, cv::Size pattern, int flags,
                                   std::vector<cv::Point2f>& corners) {
  const int channels = image.channels();
  // Images that OpenCV's search refuses go to it as they are, so that it reports them.
  if (image.depth() != CV_8U || (channels != 1 && channels != 3 && channels != 4)) {
    return cv::findChessboardCorners(image, pattern, corners, flags);
  }
  // The look and every search take the picture in gray, turned once: OpenCV's search turns a
  // colour picture gray as this does.
  const cv::Mat& whole = grayOf(image, gray_);
  const std::optional<ChessboardLattice::Sighting> board = lattice_.look(whole, pattern);
  if (!board) {
    corners.clear();
    return false;
  }
  if (static_cast<double>(whole.total()) <= kLargestSearched &&
      quads_.fewerThan(whole, flags, board->square, kMostQuads)) {
    return cv::findChessboardCorners(whole, pattern, corners, flags);
  }
  const cv::Rect area = board->area & cv::Rect(0, 0, whole.cols, whole.rows);
  const cv::Mat gray = whole(area);
  // Squares of some kSearchedSquare pixels, as on the calibration views, in at most
  // kLargestSearched pixels; reduced further, twice at a time, while its thresholdings give too
  // many squares, down to kBoundedArea pixels, which bound them whatever they show.
  const int bounded = reductionOf(area.size(), kBoundedArea);
  int factor = std::min(bounded, std::max(reductionOf(area.size(), kLargestSearched),
                                          static_cast<int>(board->square / kSearchedSquare)));
  const cv::Mat* searched = reducedBy(gray, factor);
  while (
      factor < bounded &&
      !quads_.fewerThan(*searched, flags, board->square / static_cast<float>(factor), kMostQuads)) {
    factor = std::min(bounded, 2 * factor);
    searched = reducedBy(gray, factor);
  }
  const bool found = cv::findChessboardCorners(*searched, pattern, corners, flags);
  // A reduced pixel stands for the pixels it averages: its centre lies at their middle.
  const float scaleX = static_cast<float>(gray.cols) / static_cast<float>(searched->cols);
  const float scaleY = static_cast<float>(gray.rows) / static_cast<float>(searched->rows);
  for (cv::Point2f& corner : corners) {
    corner = {(corner.x + 0.5f) * scaleX - 0.5f, (corner.y + 0.5f) * scaleY - 0.5f};
  }
  // As OpenCV's search does, only a whole board is refined; a partial find keeps its estimates.
  if (found) {
    const float side = shortestSide(corners, pattern.width);
    for (const float ofSquare : kWindowsOfSquare) {
      const int window =
          std::max(kReducedWindow * factor, static_cast<int>(std::lround(ofSquare * side)));
      cv::cornerSubPix(gray, corners, cv::Size(window, window), cv::Size(-1, -1),
                       cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::MAX_ITER,
                                        kIterations, kAccuracy));
    }
  }
  const cv::Point2f offset(static_cast<float>(area.x), static_cast<float>(area.y));
  for (cv::Point2f& corner : corners) corner += offset;
  return found;
}

}  // namespace cvcomp
