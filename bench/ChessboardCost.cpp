// The chessboard patch's search on large pictures, before and after the reduced search: the
// processor time of this thread per frame for the quick look followed by OpenCV's search of the
// whole picture (before) and by the search as the patch now runs it (after), taking turns on the
// same pictures, and how far the corners found now lie from those of OpenCV's whole search (where
// it finds the board) and from the view's own corners scaled. Run:
// build/bin/cvcomp_chessboard_cost [rounds]

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "features/ChessboardLattice.hpp"
#include "features/ReducedChessboardSearch.hpp"

namespace {

using cvcomp::ChessboardLattice;
using cvcomp::ReducedChessboardSearch;

const cv::Size kPattern(9, 6);
constexpr int kFlags = cv::CALIB_CB_ADAPTIVE_THRESH;
constexpr double kScale = 6.4;

double threadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

struct Search {
  bool found = false;
  std::vector<cv::Point2f> corners;
  double seconds = 0.0;
};

template <typename Find>
Search timed(Find&& find) {
  Search search;
  const double start = threadSeconds();
  search.found = find(search.corners);
  search.seconds = threadSeconds() - start;
  return search;
}

// The largest distance between corners of the same index, or -1 where the counts differ.
double worstDistance(const std::vector<cv::Point2f>& a, const std::vector<cv::Point2f>& b) {
  if (a.size() != b.size() || a.empty()) return -1.0;
  double worst = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, cv::norm(a[i] - b[i]));
  return worst;
}

struct Row {
  std::string name;
  cv::Mat picture;
  std::vector<cv::Point2f> scaled;  // the view's own corners, scaled; empty without a view
  std::vector<double> before, after;
  Search whole, reduced;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string outcome(const Search& search) {
  return search.found
             ? "found"
             : (search.corners.empty() ? "none" : std::to_string(search.corners.size()) + " of 54");
}

}  // namespace

int main(int argc, char** argv) {
  // Every pixel's work on this thread, so that its processor time is the whole cost.
  cv::setNumThreads(1);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  // Every view 4096 wide, and the views that OpenCV's search spends longest on enlarged six times
  // (3840 × 2880), which the search reduces to the largest copy it searches, 1920 × 1440.
  std::vector<std::pair<std::string, double>> views;
  for (const std::string camera : {"left", "right"}) {
    for (int view : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14}) {
      views.emplace_back(cv::format("%s%02d", camera.c_str(), view), kScale);
    }
  }
  for (const std::string name : {"right02", "right13", "right14"}) views.emplace_back(name, 6.0);
  std::vector<Row> rows;
  for (const auto& [name, scale] : views) {
    const cv::Mat original = cv::imread(CVCOMP_SAMPLE_DATA "/" + name + ".jpg");
    Row row{name + (scale == kScale ? std::string("_4096") : "_x6"), {}, {}, {}, {}, {}, {}};
    cv::resize(original, row.picture, {}, scale, scale, cv::INTER_LINEAR);
    if (cv::findChessboardCorners(original, kPattern, row.scaled, kFlags)) {
      for (cv::Point2f& corner : row.scaled) {
        corner = (corner + cv::Point2f(0.5f, 0.5f)) * static_cast<float>(scale) -
                 cv::Point2f(0.5f, 0.5f);
      }
    } else {
      row.scaled.clear();
    }
    rows.push_back(std::move(row));
  }
  cv::Mat noise(4096, 4096, CV_8UC1), blurred, fruits;
  cv::RNG(1).fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::GaussianBlur(noise, blurred, {}, 2.0);
  cv::normalize(blurred, blurred, 0, 255, cv::NORM_MINMAX);
  cv::resize(cv::imread(CVCOMP_SAMPLE_DATA "/fruits.jpg", cv::IMREAD_GRAYSCALE), fruits,
             {4096, 3840});
  for (const auto& [name, picture] : {std::pair<std::string, cv::Mat>{"noise_4096", noise},
                                      {"blurred_noise_4096", blurred},
                                      {"fruits_4096", fruits}}) {
    rows.push_back({name, picture, {}, {}, {}, {}, {}});
  }

  ChessboardLattice lattice;
  ReducedChessboardSearch search;
  for (int round = 0; round < rounds; ++round) {
    for (Row& row : rows) {
      row.whole = timed([&](std::vector<cv::Point2f>& corners) {
        return lattice.mayHold(row.picture, kPattern) &&
               cv::findChessboardCorners(row.picture, kPattern, corners, kFlags);
      });
      row.reduced = timed([&](std::vector<cv::Point2f>& corners) {
        return lattice.mayHold(row.picture, kPattern) &&
               search.find(row.picture, kPattern, kFlags, corners);
      });
      row.before.push_back(row.whole.seconds);
      row.after.push_back(row.reduced.seconds);
    }
  }

  std::printf(
      "| picture | before: found | before s | after: found | after s | after ÷ before |"
      " from whole search px | from scaled view px |\n|---|---|---:|---|---:|---:|---:|---:|\n");
  double worstAfter = 0.0;
  for (const Row& row : rows) {
    const double before = median(row.before), after = median(row.after);
    worstAfter = std::max(worstAfter, *std::max_element(row.after.begin(), row.after.end()));
    const double fromWhole = row.whole.found && row.reduced.found
                                 ? worstDistance(row.reduced.corners, row.whole.corners)
                                 : -1.0;
    const double fromView =
        row.reduced.found ? worstDistance(row.reduced.corners, row.scaled) : -1.0;
    const auto cell = [](double value) {
      return value < 0.0 ? std::string("–") : cv::format("%.2f", value);
    };
    std::printf("| %s | %s | %.3f | %s | %.3f | %.3f | %s | %s |\n", row.name.c_str(),
                outcome(row.whole).c_str(), before, outcome(row.reduced).c_str(), after,
                after / before, cell(fromWhole).c_str(), cell(fromView).c_str());
  }
  std::printf("\nmedians of %d rounds; the slowest frame after: %.3f s\n", rounds, worstAfter);
  return 0;
}
