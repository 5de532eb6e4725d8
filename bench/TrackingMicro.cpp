// The tracker's pyramid reuse: one frame tracked from a kept pyramid (one new pyramid built)
// against the same frame tracked from the two images (both pyramids built inside OpenCV).

#include <benchmark/benchmark.h>

#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "features/OpticalFlowPyramid.hpp"

namespace cvcomp {

namespace {

const cv::Size kWindow(21, 21);
constexpr int kMaxLevel = 3;
const cv::TermCriteria kCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, 0.03f);

// Two consecutive gray frames of the sample clip and 500 corners of the first.
struct FramePair {
  cv::Mat previous, current;
  std::vector<cv::Point2f> corners;

  FramePair() {
    cv::VideoCapture clip(CVCOMP_SAMPLE_DATA "/vtest.avi");
    cv::Mat frame;
    clip.read(frame);
    cv::cvtColor(frame, previous, cv::COLOR_BGR2GRAY);
    clip.read(frame);
    cv::cvtColor(frame, current, cv::COLOR_BGR2GRAY);
    cv::goodFeaturesToTrack(previous, corners, 500, 0.01, 10.0);
  }
};

const FramePair& pair() {
  static const FramePair frames;
  return frames;
}

void TrackFromKeptPyramid(benchmark::State& state) {
  const FramePair& frames = pair();
  OpticalFlowPyramid kept, next;
  kept.build(frames.previous, kWindow, kMaxLevel);
  std::vector<cv::Point2f> points;
  std::vector<unsigned char> status;
  for (auto _ : state) {
    next.build(frames.current, kWindow, kMaxLevel);
    cv::calcOpticalFlowPyrLK(kept.levels(), next.levels(), frames.corners, points, status,
                             cv::noArray(), kWindow, kMaxLevel, kCriteria, 0);
    benchmark::DoNotOptimize(points.data());
  }
}
BENCHMARK(TrackFromKeptPyramid)->Unit(benchmark::kMillisecond);

void TrackFromBothImages(benchmark::State& state) {
  const FramePair& frames = pair();
  std::vector<cv::Point2f> points;
  std::vector<unsigned char> status;
  for (auto _ : state) {
    cv::calcOpticalFlowPyrLK(frames.previous, frames.current, frames.corners, points, status,
                             cv::noArray(), kWindow, kMaxLevel, kCriteria, 0);
    benchmark::DoNotOptimize(points.data());
  }
}
BENCHMARK(TrackFromBothImages)->Unit(benchmark::kMillisecond);

}  // namespace

}  // namespace cvcomp
