#include <gtest/gtest.h>

#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

TEST(PointStructures, NumberedKeysAndCentredUnitCoordinates) {
  EXPECT_EQ(numberedKey("Point", 0), "Point0000");
  EXPECT_EQ(numberedKey("Line", 12), "Line0012");
  EXPECT_EQ(numberedKey("Object", 9999), "Object9999");
  EXPECT_EQ(numberedKey("Corner", 10000), "Corner10000");
  // One unit is half the width on both axes; Y grows with the row.
  EXPECT_EQ(centredUnit({0, 0}, {640, 480}), cv::Point2f(-1.0f, -0.75f));
  EXPECT_EQ(centredUnit({0, 0}, {320, 240}), cv::Point2f(-1.0f, -0.75f));
  EXPECT_EQ(centredUnit({160, 120}, {320, 240}), cv::Point2f(0.0f, 0.0f));
  EXPECT_EQ(centredUnit({320, 240}, {320, 240}), cv::Point2f(1.0f, 0.75f));
  EXPECT_EQ(centredUnit({160, 280}, {320, 240}), cv::Point2f(0.0f, 1.0f));
}

}  // namespace
}  // namespace cvcomp
