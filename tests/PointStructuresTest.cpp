#include <gtest/gtest.h>

#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

TEST(PointStructures, NumberedKeysPadToFourDigitsThenGrow) {
  EXPECT_EQ(numberedKey("Point", 0), "Point0000");
  EXPECT_EQ(numberedKey("Line", 12), "Line0012");
  EXPECT_EQ(numberedKey("Object", 9999), "Object9999");
  EXPECT_EQ(numberedKey("Corner", 10000), "Corner10000");
}

TEST(PointStructures, CentredUnitCoordinates) {
  const cv::Size size(320, 240);
  EXPECT_EQ(centredUnit({0.0f, 0.0f}, size), cv::Point2f(-1.0f, -0.75f));
  EXPECT_EQ(centredUnit({160.0f, 120.0f}, size), cv::Point2f(0.0f, 0.0f));
  EXPECT_EQ(centredUnit({320.0f, 240.0f}, size), cv::Point2f(1.0f, 0.75f));
  // One unit is half the width on both axes.
  EXPECT_EQ(centredUnit({160.0f, 280.0f}, size), cv::Point2f(0.0f, 1.0f));
}

}  // namespace
}  // namespace cvcomp
