// The Lucas–Kanade tracker fed point lists that no feature finder would publish: NaN, infinite
// and huge coordinates, points far outside the picture, and ten thousand points at once.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVCalcOpticalFlowPyrLK.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Frames {
  cv::Mat previous, current;
};

// A textured picture and the same picture moved 2 pixels right and 1 down.
Frames movingPicture() {
  Frames frames;
  cv::Mat gray;
  cv::cvtColor(test::samplePicture("baboon.jpg"), gray, cv::COLOR_BGR2GRAY);
  cv::resize(gray, frames.previous, {320, 240}, 0, 0, cv::INTER_AREA);
  const cv::Mat move = (cv::Mat_<double>(2, 3) << 1, 0, 2, 0, 1, 1);
  cv::warpAffine(frames.previous, frames.current, move, frames.previous.size(), cv::INTER_LINEAR,
                 cv::BORDER_REFLECT);
  return frames;
}

std::shared_ptr<QCStructure> pointList(const std::vector<cv::Point2d>& units) {
  auto list = std::make_shared<QCStructure>();
  for (std::size_t i = 0; i < units.size(); ++i) {
    auto point = std::make_shared<QCStructure>();
    point->addMember(QCNumber::withDouble(units[i].x), "X");
    point->addMember(QCNumber::withDouble(units[i].y), "Y");
    list->addMember(std::move(point), numberedKey("Point", i));
  }
  return list;
}

// Loads `units` on the first frame, tracks them into the second and returns the output.
std::shared_ptr<QCStructure> track(const std::vector<cv::Point2d>& units, bool excludeLost) {
  Frames frames = movingPicture();
  OpenCVCalcOpticalFlowPyrLK tracker("tracker");
  tracker.inputExcludeNaNs.setBooleanValue(excludeLost);
  tracker.inputPoints.setStructureValue(pointList(units));
  tracker.inputUseInputPointsSignal.setBooleanValue(true);
  test::feed(tracker.inputImage, frames.previous);
  EXPECT_TRUE(test::execute(tracker));
  test::feed(tracker.inputImage, frames.current);
  EXPECT_TRUE(test::execute(tracker));
  return tracker.outputPoints.structureValue();
}

cv::Point2d at(const QCStructure& output, std::size_t index) {
  const QCStructure* point = output.structureForKey(numberedKey("Point", index));
  if (!point) return {kNaN, kNaN};
  return {point->numberForKey("X")->value, point->numberForKey("Y")->value};
}

TEST(TrackingInput, UnusableCoordinatesAreLostPointsAndTheOthersAreTracked) {
  const cv::Point2d good(0.1, 0.05);
  const std::vector<cv::Point2d> units{
      good,          {kNaN, 0.0},    {0.0, kNaN},   {kInfinity, 0.0}, {0.0, -kInfinity},
      {1e30, -1e30}, {1e300, 1e300}, {50.0, -40.0}, {-1.5, 0.0},      {0.0, 2.0},
  };
  const std::shared_ptr<QCStructure> output = track(units, false);
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(output->count(), units.size());
  // The good point moved by 2 pixels of 320 to the right (+1/80) and 1 of 240 down (+1/160).
  EXPECT_NEAR(at(*output, 0).x, good.x + 1.0 / 80, 0.003);
  EXPECT_NEAR(at(*output, 0).y, good.y + 1.0 / 160, 0.003);
  for (std::size_t i = 1; i < units.size(); ++i) {
    EXPECT_EQ(at(*output, i), cv::Point2d(1.0, 1.0)) << "point " << i << " is lost";
  }

  const std::shared_ptr<QCStructure> found = track(units, true);
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(found->count(), 1u);
  EXPECT_EQ(at(*found, 0), at(*output, 0));
}

TEST(TrackingInput, TenThousandPointsAreAllAccountedFor) {
  std::vector<cv::Point2d> units;
  for (int row = 0; row < 100; ++row) {
    for (int column = 0; column < 100; ++column) {
      units.emplace_back(-0.9 + 1.8 * column / 99.0, (-0.9 + 1.8 * row / 99.0) * 0.75);
    }
  }
  const std::shared_ptr<QCStructure> output = track(units, false);
  ASSERT_NE(output, nullptr);
  ASSERT_EQ(output->count(), units.size());
  std::size_t followed = 0;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const cv::Point2d now = at(*output, i);
    if (std::abs(now.x - units[i].x - 1.0 / 80) < 0.003 &&
        std::abs(now.y - units[i].y - 1.0 / 160) < 0.003) {
      ++followed;
    }
  }
  // Most of the grid lies on texture that moved as a whole.
  EXPECT_GT(followed, units.size() * 3 / 4);
}

}  // namespace
}  // namespace cvcomp
