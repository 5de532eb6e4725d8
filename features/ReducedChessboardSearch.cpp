#include "ReducedChessboardSearch.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace cvcomp {

namespace {

// The refinement on the full picture looks this fraction of the shortest side of a square either
// side of each corner, and never less than OpenCV's own window (2 pixels) scaled by the
// reduction: a board enlarged many times has corners blurred over many pixels, which a small
// window does not see across.
constexpr float kWindowOfSquare = 1.0f / 8.0f;
constexpr int kReducedWindow = 2;
constexpr int kIterations = 30;
constexpr double kAccuracy = 0.01;

// The smallest whole factor that brings `size` within `largest` pixels.
int reductionOf(cv::Size size, double largest) {
  int factor = std::max(2, static_cast<int>(std::ceil(std::sqrt(size.area() / largest))));
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

}  // namespace

bool ReducedChessboardSearch::find(const cv::Mat& image, cv::Size pattern, int flags,
                                   std::vector<cv::Point2f>& corners) {
  const int channels = image.channels();
  // Images that OpenCV's search refuses go to it as they are, so that it reports them.
  if (static_cast<double>(image.total()) <= kLargestSearched || image.depth() != CV_8U ||
      (channels != 1 && channels != 3 && channels != 4)) {
    return cv::findChessboardCorners(image, pattern, corners, flags);
  }
  const cv::Mat* gray = &image;
  if (channels != 1) {
    cv::cvtColor(image, gray_, channels == 3 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
    gray = &gray_;
  }
  const int factor = reductionOf(image.size(), kLargestSearched);
  cv::resize(*gray, reduced_, cv::Size(gray->cols / factor, gray->rows / factor), 0.0, 0.0,
             cv::INTER_AREA);
  const bool found = cv::findChessboardCorners(reduced_, pattern, corners, flags);
  // A reduced pixel stands for the pixels it averages: its centre lies at their middle.
  const float scaleX = static_cast<float>(gray->cols) / static_cast<float>(reduced_.cols);
  const float scaleY = static_cast<float>(gray->rows) / static_cast<float>(reduced_.rows);
  for (cv::Point2f& corner : corners) {
    corner = {(corner.x + 0.5f) * scaleX - 0.5f, (corner.y + 0.5f) * scaleY - 0.5f};
  }
  // As OpenCV's search does, only a whole board is refined; a partial find keeps its estimates.
  if (found) {
    const int window = std::max(
        kReducedWindow * factor,
        static_cast<int>(std::lround(kWindowOfSquare * shortestSide(corners, pattern.width))));
    cv::cornerSubPix(*gray, corners, cv::Size(window, window), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::MAX_ITER,
                                      kIterations, kAccuracy));
  }
  return found;
}

}  // namespace cvcomp
