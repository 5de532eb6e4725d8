#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVGoodFeaturesToTrack.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

using test::execute;

cv::Mat grayPicture(const std::string& name) {
  cv::Mat gray;
  cv::cvtColor(test::samplePicture(name), gray, cv::COLOR_BGR2GRAY);
  return gray;
}

// The keys and coordinates of a point list, in member order.
using PointList = std::vector<std::tuple<std::string, double, double>>;
PointList listOf(const QCStructure& points) {
  PointList list;
  for (const auto& [key, member] : points.members()) {
    const QCStructure* point = points.structureForKey(key);
    EXPECT_NE(point, nullptr) << key;
    if (point)
      list.emplace_back(key, point->numberForKey("X")->value, point->numberForKey("Y")->value);
  }
  return list;
}

struct Finder {
  OpenCVGoodFeaturesToTrack patch{"features"};

  const std::shared_ptr<QCStructure>& run(cv::Mat& image, bool find) {
    test::feed(patch.inputImage, image);
    patch.inputFindSignal.setBooleanValue(find);
    EXPECT_TRUE(execute(patch));
    return patch.outputPoints.structureValue();
  }
};

TEST(OpenCVGoodFeaturesToTrack, PublishesOpenCVsCornersInCentredUnitsAsDoubles) {
  cv::Mat gray = grayPicture("building.jpg");
  Finder finder;
  const std::shared_ptr<QCStructure> points = finder.run(gray, true);
  ASSERT_NE(points, nullptr);

  std::vector<cv::Point2f> corners;
  cv::goodFeaturesToTrack(gray, corners, 50, 0.01f, 10.0f, cv::noArray(), 7, false, 0.04f);
  ASSERT_EQ(corners.size(), 50u);
  ASSERT_EQ(points->count(), corners.size());
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const auto& [key, member] = points->members()[i];
    EXPECT_EQ(key, numberedKey("Point", i));
    const QCStructure* point = points->structureForKey(key);
    ASSERT_NE(point, nullptr);
    ASSERT_EQ(point->count(), 2u);
    EXPECT_EQ(point->members()[0].first, "X");
    EXPECT_EQ(point->members()[1].first, "Y");
    // Computed in single precision, stored as double-precision numbers.
    const cv::Point2f unit = centredUnit(corners[i], gray.size());
    EXPECT_EQ(*point->numberForKey("X"), QCNumber::withDouble(unit.x)) << key;
    EXPECT_EQ(*point->numberForKey("Y"), QCNumber::withDouble(unit.y)) << key;
  }
}

TEST(OpenCVGoodFeaturesToTrack, ReportsAThousandCornersUnderConsecutiveKeys) {
  cv::Mat gray = grayPicture("building.jpg");
  Finder finder;
  finder.patch.inputMaxPoints.setIndexValue(5000);
  EXPECT_EQ(finder.patch.inputMaxPoints.indexValue(), 1000u);
  finder.patch.inputQuality.setDoubleValue(0.001);
  finder.patch.inputMinDistance.setDoubleValue(1.0);
  const std::shared_ptr<QCStructure> points = finder.run(gray, true);
  ASSERT_NE(points, nullptr);
  ASSERT_EQ(points->count(), 1000u);
  for (std::size_t i = 0; i < 1000; ++i) {
    const QCStructure* point = points->structureForKey(numberedKey("Point", i));
    ASSERT_NE(point, nullptr) << i;
    EXPECT_NE(point->numberForKey("X"), nullptr);
    EXPECT_NE(point->numberForKey("Y"), nullptr);
  }
  EXPECT_EQ(points->memberForKey("Point1000"), nullptr);
}

TEST(OpenCVGoodFeaturesToTrack, FailedOrFruitlessSearchesPublishAnEmptyList) {
  cv::Mat gray = grayPicture("building.jpg");
  Finder finder;
  finder.patch.inputQuality.setDoubleValue(0.0);
  testing::internal::CaptureStderr();
  const std::shared_ptr<QCStructure> failed = finder.run(gray, true);
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("OpenCVGoodFeaturesToTrack: OpenCV("), std::string::npos) << report;
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->count(), 0u);

  cv::Mat flat(240, 320, CV_8UC1, cv::Scalar(128));
  finder.patch.inputQuality.setDoubleValue(0.01);
  finder.run(flat, false);
  const std::shared_ptr<QCStructure> none = finder.run(flat, true);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->count(), 0u);
}

TEST(OpenCVGoodFeaturesToTrack, SearchesOnlyOnRisingEdges) {
  cv::Mat building = grayPicture("building.jpg");
  cv::Mat sudoku = grayPicture("sudoku.png");
  Finder finder;
  EXPECT_EQ(finder.run(building, false), nullptr);
  const std::shared_ptr<QCStructure> first = finder.run(building, true);
  ASSERT_NE(first, nullptr);
  const PointList found = listOf(*first);
  ASSERT_FALSE(found.empty());

  // Held YES over other images: no new search, the list stays as it is.
  for (int frame = 0; frame < 3; ++frame) {
    EXPECT_EQ(finder.run(sudoku, true), first);
    EXPECT_EQ(listOf(*first), found);
  }
  // Falling and rising again searches the current image, refilling the same list.
  EXPECT_EQ(finder.run(sudoku, false), first);
  EXPECT_EQ(finder.run(sudoku, true), first);
  EXPECT_NE(listOf(*first), found);

  // After disable a held YES searches again.
  const PointList onSudoku = listOf(*first);
  finder.patch.disable(test::context());
  EXPECT_EQ(finder.run(building, true), first);
  EXPECT_EQ(listOf(*first), found);
  EXPECT_NE(listOf(*first), onSudoku);
}

TEST(OpenCVGoodFeaturesToTrack, UnsuitableFramesPublishNilAndReArmTheSignal) {
  cv::Mat gray = grayPicture("building.jpg");
  cv::Mat colour = test::samplePicture("building.jpg");
  Finder finder;
  const std::shared_ptr<QCStructure> first = finder.run(gray, true);
  ASSERT_NE(first, nullptr);
  const PointList found = listOf(*first);

  auto gapFrame = [&](auto&& makeUnsuitable, auto&& restore) {
    makeUnsuitable();
    EXPECT_TRUE(execute(finder.patch));
    EXPECT_EQ(finder.patch.outputPoints.structureValue(), nullptr);
    restore();
    // The signal was held YES all along: the first suitable frame searches again, into a new
    // list, while the one published before keeps its points for whoever holds it.
    const std::shared_ptr<QCStructure> again = finder.run(gray, true);
    EXPECT_NE(again, nullptr);
    EXPECT_NE(again, first);
    EXPECT_EQ(listOf(*first), found);
    if (again) {
      EXPECT_EQ(listOf(*again), found);
    }
  };
  gapFrame([&] { finder.patch.inputImage.setCvObjectValue(nullptr); }, [] {});
  gapFrame([&] { test::feed(finder.patch.inputImage, colour); }, [] {});
  gapFrame([&] { finder.patch.inputMaxPoints.setIndexValue(0); },
           [&] { finder.patch.inputMaxPoints.setIndexValue(50); });
}

}  // namespace
}  // namespace cvcomp
