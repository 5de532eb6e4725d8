#include "ChessboardQuadCount.hpp"

#include <algorithm>
#include <array>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

namespace cvcomp {

namespace {

// OpenCV's search takes a dark blob for a square where the box around its outline (which runs
// along the light pixels around it) covers this many pixels, and the outline simplifies to four
// corners within so many pixels at most; a light frame of this width around the picture closes
// the blobs at its edges.
constexpr int kSmallestBox = 25;
constexpr int kLoosestSimplification = 7;
constexpr int kFrame = 3;

// An adaptive thresholding: its block as a fraction of the picture's shorter side (or, at 0,
// twice the board's squares), the offset below the block's mean, and the dilations after which
// its squares are counted.
struct Adaptive {
  double ofSide;
  int offset;
  std::array<int, 2> dilations;
};
// The search's first blocks are a fifth and a tenth of the shorter side, with offsets of 0, 5 and
// 10 and up to 7 dilations (dilating the light splits dark webs into many squares); once it has
// seen the board's squares, its block is twice their side. Of these, the ones that gave the most
// squares on pictures of dots, noise and views with and without noise are counted.
constexpr int kNoMore = -1;
constexpr std::array<Adaptive, 3> kAdaptive{
    {{0.2, 0, {0, 2}}, {0.1, 5, {0, kNoMore}}, {0.0, 0, {0, kNoMore}}}};
// The search's first pass dilates its global thresholding once before taking squares.
constexpr int kGlobalDilations = 1;

int oddBlock(double side) {
  return std::max(3, static_cast<int>(cvRound(side)) | 1);
}

}  // namespace

bool ChessboardQuadCount::fewerIn(const cv::Mat& binary, std::size_t most) {
  binary.copyTo(outlined_);
  cv::rectangle(outlined_, cv::Point(0, 0), cv::Point(outlined_.cols - 1, outlined_.rows - 1),
                cv::Scalar(255), kFrame, cv::LINE_8);
  cv::findContours(outlined_, outlines_, hierarchy_, cv::RETR_CCOMP, cv::CHAIN_APPROX_SIMPLE);
  std::size_t squares = 0;
  for (std::size_t i = 0; i < outlines_.size(); ++i) {
    // Holes in the light without holes of their own.
    if (hierarchy_[i][2] != -1 || hierarchy_[i][3] == -1) continue;
    if (cv::boundingRect(outlines_[i]).area() < kSmallestBox) continue;
    // Simplified more and more loosely until four corners are left, each time twice (one pass
    // does not always simplify as far as it could).
    for (int tolerance = 1; tolerance <= kLoosestSimplification; ++tolerance) {
      cv::approxPolyDP(outlines_[i], simplified_, tolerance, true);
      if (simplified_.size() == 4) break;
      cv::approxPolyDP(simplified_, again_, tolerance, true);
      std::swap(simplified_, again_);
      if (simplified_.size() == 4) break;
    }
    if (simplified_.size() == 4 && cv::isContourConvex(simplified_) && ++squares >= most) {
      return false;
    }
  }
  return true;
}

bool ChessboardQuadCount::fewerThan(const cv::Mat& gray, int flags, float square,
                                    std::size_t most) {
  // The first pass thresholds the histogram between its two main levels; Otsu's level stands
  // for it.
  cv::threshold(gray, binary_, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  cv::dilate(binary_, binary_, cv::Mat(), cv::Point(-1, -1), kGlobalDilations);
  if (!fewerIn(binary_, most)) return false;
  const cv::Mat* source = &gray;
  if (flags & cv::CALIB_CB_NORMALIZE_IMAGE) {
    cv::equalizeHist(gray, equalized_);
    source = &equalized_;
  }
  if (!(flags & cv::CALIB_CB_ADAPTIVE_THRESH)) {
    // Without adaptive thresholds the search takes one level, 10 below the mean.
    const int level = std::max(static_cast<int>(cvRound(cv::mean(*source)[0] - 10)), 10);
    cv::threshold(*source, binary_, level, 255, cv::THRESH_BINARY);
    return fewerIn(binary_, most);
  }
  const double side = std::min(gray.cols, gray.rows);
  for (const Adaptive& probe : kAdaptive) {
    if (probe.ofSide == 0.0 && square <= 0.0f) continue;
    const int block = oddBlock(probe.ofSide > 0.0 ? side * probe.ofSide : 2.0 * square);
    cv::adaptiveThreshold(*source, binary_, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY,
                          block, probe.offset);
    int done = 0;
    for (const int dilations : probe.dilations) {
      if (dilations == kNoMore) break;
      if (dilations > done) {
        cv::dilate(binary_, binary_, cv::Mat(), cv::Point(-1, -1), dilations - done);
        done = dilations;
      }
      if (!fewerIn(binary_, most)) return false;
    }
  }
  return true;
}

}  // namespace cvcomp
