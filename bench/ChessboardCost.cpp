// The chessboard patch's bounded search against OpenCV's own search of the whole picture: the
// processor time of this thread per frame for the patch's look and search (median and slowest of
// several rounds) and for OpenCV's search (one round, where it ends within minutes), on the
// calibration views enlarged, on pictures that make OpenCV's search slow, and on pictures without
// a board; and how far the patch's corners lie from OpenCV's on the same picture and from the
// view's own corners (refined in an 11 × 11 window) scaled. Run:
// build/bin/cvcomp_chessboard_cost [rounds]

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "features/BoundedChessboardSearch.hpp"

namespace {

using cvcomp::BoundedChessboardSearch;

const cv::Size kPattern(9, 6);
constexpr int kFlags = cv::CALIB_CB_ADAPTIVE_THRESH;

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

cv::Mat sample(const std::string& name) {
  return cv::imread(CVCOMP_SAMPLE_DATA "/" + name + ".jpg", cv::IMREAD_GRAYSCALE);
}

cv::Mat scaled(const cv::Mat& picture, double scale) {
  cv::Mat out;
  cv::resize(picture, out, {}, scale, scale, cv::INTER_LINEAR);
  return out;
}

// Uniform noise over `size`, blurred by `blur` and stretched over all gray levels again.
cv::Mat noise(cv::Size size, double blur) {
  cv::Mat picture(size, CV_8UC1);
  cv::RNG(1).fill(picture, cv::RNG::UNIFORM, 0, 256);
  if (blur > 0.0) {
    cv::GaussianBlur(picture, picture, {}, blur);
    cv::normalize(picture, picture, 0, 255, cv::NORM_MINMAX);
  }
  return picture;
}

// Dark squares of `side` pixels, `gap` apart, over `area` of `picture`.
void dots(cv::Mat& picture, cv::Rect area, int side, int gap) {
  for (int y = area.y; y + side <= area.br().y; y += side + gap) {
    for (int x = area.x; x + side <= area.br().x; x += side + gap) {
      picture(cv::Rect(x, y, side, side)) = 0;
    }
  }
}

struct Row {
  Row(std::string named, cv::Mat shown, bool opencvEnds, std::vector<cv::Point2f> viewed)
      : name(std::move(named)),
        picture(std::move(shown)),
        timeOpenCV(opencvEnds),
        view(std::move(viewed)) {}

  std::string name;
  cv::Mat picture;
  bool timeOpenCV;                // OpenCV's own search ends within minutes
  std::vector<cv::Point2f> view;  // the view's own corners, refined and scaled; or none
  std::vector<double> seconds{};
  Search patch{}, opencv{};
};

// The view `name`'s corners, refined in an 11 × 11 window and scaled `scale` times; none where
// OpenCV's search does not find its board.
std::vector<cv::Point2f> viewCorners(const std::string& name, double scale) {
  const cv::Mat view = sample(name);
  std::vector<cv::Point2f> corners;
  if (!cv::findChessboardCorners(view, kPattern, corners, kFlags)) return {};
  cv::cornerSubPix(view, corners, {5, 5}, {-1, -1},
                   cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::MAX_ITER, 30, 0.01));
  for (cv::Point2f& corner : corners) {
    corner =
        (corner + cv::Point2f(0.5f, 0.5f)) * static_cast<float>(scale) - cv::Point2f(0.5f, 0.5f);
  }
  return corners;
}

std::vector<Row> rows() {
  std::vector<Row> rows;
  for (const std::string camera : {"left", "right"}) {
    for (int view : {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14}) {
      const std::string name = cv::format("%s%02d", camera.c_str(), view);
      rows.push_back({name + "_x2", scaled(sample(name), 2.0), true, viewCorners(name, 2.0)});
      rows.push_back({name + "_4096", scaled(sample(name), 6.4), true, viewCorners(name, 6.4)});
    }
  }
  // A view at half its size beside dots of 5 pixels a pixel apart.
  cv::Mat beside(480, 640, CV_8UC1, cv::Scalar(255));
  dots(beside, cv::Rect(330, 0, 310, 480), 5, 1);
  cv::resize(sample("left01"), beside(cv::Rect(0, 0, 320, 240)), {320, 240}, 0.0, 0.0,
             cv::INTER_AREA);
  rows.push_back({"left01_beside_dots_640x480", beside, true, viewCorners("left01", 0.5)});
  // A view at 1024 × 768 with noise of 8 gray levels, the right third of its board hidden.
  cv::Mat hidden = scaled(sample("left01"), 1.6), grain(hidden.size(), CV_16SC1);
  cv::rectangle(hidden, cv::Rect(682, 0, 342, 768), cv::Scalar(128), cv::FILLED);
  cv::RNG(2).fill(grain, cv::RNG::NORMAL, 0, 8.0);
  cv::add(hidden, grain, hidden, cv::noArray(), CV_8U);
  rows.push_back({"left01_hidden_noisy_1024x768", hidden, true, {}});
  // 4096 × 4096: a view enlarged to 2048 wide, in blurred noise and beside dots, its board whole
  // and with its right third hidden.
  for (const bool hide : {false, true}) {
    cv::Mat board = scaled(sample("left01"), 3.2);
    cv::Mat inNoise = noise({4096, 4096}, 3.0), besideDots(4096, 4096, CV_8UC1, cv::Scalar(255));
    dots(besideDots, cv::Rect(0, 0, 4096, 4096), 5, 1);
    const cv::Rect shown(0, 0, hide ? 1365 : 2048, 1536);
    board(shown).copyTo(inNoise(shown));
    board(shown).copyTo(besideDots(shown));
    const std::string how = hide ? "partly_hidden" : "whole";
    rows.push_back({"left01_" + how + "_in_blurred_noise_4096", inNoise, false,
                    hide ? std::vector<cv::Point2f>{} : viewCorners("left01", 3.2)});
    rows.push_back({"left01_" + how + "_beside_dots_4096", besideDots, false,
                    hide ? std::vector<cv::Point2f>{} : viewCorners("left01", 3.2)});
  }
  rows.push_back({"noise_4096", noise({4096, 4096}, 0.0), false, {}});
  rows.push_back({"blurred_noise_4096", noise({4096, 4096}, 2.0), false, {}});
  cv::Mat fruits;
  cv::resize(cv::imread(CVCOMP_SAMPLE_DATA "/fruits.jpg", cv::IMREAD_GRAYSCALE), fruits,
             {4096, 3840});
  rows.push_back({"fruits_4096", fruits, false, {}});
  return rows;
}

std::string outcome(const Search& search) {
  return search.found
             ? "found"
             : (search.corners.empty() ? "none" : std::to_string(search.corners.size()) + " of 54");
}

std::string cell(double value) {
  return value < 0.0 ? "–" : cv::format("%.2f", value);
}

}  // namespace

int main(int argc, char** argv) {
  // Every pixel's work on this thread, so that its processor time is the whole cost.
  cv::setNumThreads(1);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::vector<Row> table = rows();
  BoundedChessboardSearch search;
  for (int round = 0; round < rounds; ++round) {
    for (Row& row : table) {
      row.patch = timed([&](std::vector<cv::Point2f>& corners) {
        return search.find(row.picture, kPattern, kFlags, corners);
      });
      row.seconds.push_back(row.patch.seconds);
    }
  }
  // OpenCV's search, where it ends within minutes (not on the noise and the fruits, which the look
  // refuses before any search, nor on the large pictures made slow for it).
  for (Row& row : table) {
    if (row.timeOpenCV) {
      row.opencv = timed([&](std::vector<cv::Point2f>& corners) {
        return cv::findChessboardCorners(row.picture, kPattern, corners, kFlags);
      });
    }
  }

  std::printf(
      "| picture | OpenCV: found | OpenCV s | patch: found | patch s | slowest s | patch ÷ OpenCV |"
      " from OpenCV px | from view px |\n|---|---|---:|---|---:|---:|---:|---:|---:|\n");
  double slowest = 0.0;
  for (Row& row : table) {
    std::sort(row.seconds.begin(), row.seconds.end());
    const double median = row.seconds[row.seconds.size() / 2], worst = row.seconds.back();
    slowest = std::max(slowest, worst);
    const bool timedOpenCV = row.opencv.seconds > 0.0;
    const double fromOpenCV = row.opencv.found && row.patch.found
                                  ? worstDistance(row.patch.corners, row.opencv.corners)
                                  : -1.0;
    const double fromView = row.patch.found ? worstDistance(row.patch.corners, row.view) : -1.0;
    std::printf("| %s | %s | %s | %s | %.3f | %.3f | %s | %s | %s |\n", row.name.c_str(),
                timedOpenCV ? outcome(row.opencv).c_str() : "–",
                timedOpenCV ? cv::format("%.3f", row.opencv.seconds).c_str() : "–",
                outcome(row.patch).c_str(), median, worst,
                timedOpenCV ? cv::format("%.3f", median / row.opencv.seconds).c_str() : "–",
                cell(fromOpenCV).c_str(), cell(fromView).c_str());
  }
  std::printf("\nmedians and slowest of %d rounds; the slowest frame of the patch: %.3f s\n",
              rounds, slowest);
  return 0;
}
