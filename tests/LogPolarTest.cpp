// The log-polar transform: where each pixel samples, both ways, and its buffers and remap tables.

#include "TestSupport.hpp"
#include "filters/LogPolarMap.hpp"
#include "filters/OpenCVLogPolar.hpp"

namespace cvcomp {
namespace {

using test::execute;

// Runs the patch on `input` around `centre` with magnitude M into a `size` output, from or (with
// `inverse`) back to log-polar form; returns its output (empty when nil).
const cv::Mat& transformed(OpenCVLogPolar& patch, cv::Mat& input, cv::Point2d centre, double m,
                           cv::Size size, bool inverse) {
  patch.inputCenterX.setDoubleValue(centre.x);
  patch.inputCenterY.setDoubleValue(centre.y);
  patch.inputMagnitude.setDoubleValue(m);
  patch.inputWidth.setIndexValue(static_cast<std::size_t>(size.width));
  patch.inputHeight.setIndexValue(static_cast<std::size_t>(size.height));
  patch.inputInverse.setBooleanValue(inverse);
  test::feed(patch.inputImage, &input);
  EXPECT_TRUE(execute(patch));
  static const cv::Mat none;
  return imageValue(patch.outputImage) ? *imageValue(patch.outputImage) : none;
}

// In log-polar form, column ρ holds the points at radius r = exp(ρ / M) from the centre, and row
// φ of H those at the angle φ · 2π / H, which grows from the X axis towards the Y axis (down).
TEST(OpenCVLogPolar, ColumnsAreLogRadiiAndRowsAnglesBothWays) {
  OpenCVLogPolar logPolar("logPolar");
  // A white picture seen from (−50, −50), M = 40: radii below 70.7 (column 170) miss it, and only
  // angles strictly between 0 and a quarter turn (rows 1 to 63 of 256) point into it.
  cv::Mat white(480, 640, CV_8UC1, cv::Scalar(255));
  const cv::Mat& seen = transformed(logPolar, white, {-50, -50}, 40.0, {200, 256}, false);
  ASSERT_EQ(seen.size(), cv::Size(200, 256));
  EXPECT_EQ(cv::countNonZero(seen.colRange(0, 169)), 0);
  EXPECT_EQ(cv::countNonZero(seen.row(0)), 0);
  EXPECT_EQ(cv::countNonZero(seen.rowRange(64, 256)), 0);
  EXPECT_EQ(seen.at<uchar>(32, 175), 255);  // radius 79.6 at 45°: (6.3, 6.3)
  // Back from log-polar form, around (320, 240): gray, and white in the first quarter turn (rows 0
  // to 49 of 200) from column 160 (radius 54.6) on.
  cv::Mat quarter(200, 256, CV_8UC1, cv::Scalar(100));
  quarter(cv::Rect(160, 0, 96, 50)).setTo(255);
  const cv::Mat& back = transformed(logPolar, quarter, {320, 240}, 40.0, {640, 480}, true);
  ASSERT_EQ(back.size(), cv::Size(640, 480));
  EXPECT_EQ(back.at<uchar>(240 + 57, 320 + 57), 255);  // radius 80.6 at 45°
  EXPECT_EQ(back.at<uchar>(240 + 28, 320 + 28), 100);  // radius 39.6
  EXPECT_EQ(back.at<uchar>(240 + 57, 320 - 57), 100);  // 135°
  EXPECT_EQ(back.at<uchar>(240 - 57, 320 + 57), 100);  // 315°
  EXPECT_EQ(back.at<uchar>(240, 320), 0);              // the centre has no source
}

TEST(OpenCVLogPolar, BufferFollowsTheRequestedSizeAndChannelCount) {
  cv::Mat colour = test::bgraPicture("fruits.jpg"), larger, gray;
  cv::resize(colour, larger, {700, 650});
  cv::cvtColor(larger, gray, cv::COLOR_BGRA2GRAY);
  // A log-polar image of the input's format.
  OpenCVLogPolar logPolar("logPolar");
  EXPECT_EQ(transformed(logPolar, colour, {320, 240}, 40.0, {256, 256}, false).type(), CV_8UC4);

  // Input size, centre, magnitude and direction change: the output buffer stays.
  const test::Published first(logPolar.outputImage);
  transformed(logPolar, larger, {300, 310}, 50.0, {256, 256}, true);
  EXPECT_TRUE(first.reusedBy(logPolar.outputImage));
  // A channel change or another requested size: a new buffer.
  EXPECT_EQ(transformed(logPolar, gray, {300, 310}, 50.0, {256, 256}, true).type(), CV_8UC1);
  EXPECT_EQ(first.allocatedSince(), 1u);
  EXPECT_EQ(transformed(logPolar, gray, {300, 310}, 50.0, {100, 256}, true).size(),
            cv::Size(100, 256));

  // Nil on a zero size or without input, and on an extent beyond any image, which OpenCV
  // refuses (rather than it wrapping round to a small size); disable releases as well. The
  // output and the remap table are made anew, except after the refused extent: the error ends
  // the frame before the table is needed, so the last one stays valid.
  const auto suitable = [&] {
    test::feed(logPolar.inputImage, &gray);
    logPolar.inputWidth.setIndexValue(100);
    logPolar.inputHeight.setIndexValue(256);
  };
  test::expectReleases(
      logPolar, logPolar.outputImage, suitable,
      {[&] { logPolar.inputWidth.setIndexValue(0); },
       [&] { logPolar.inputHeight.setIndexValue(0); }, test::feeding(logPolar.inputImage, nullptr)},
      true, 2);
  EXPECT_TRUE(test::reportsOpenCVError("OpenCVLogPolar", [&] {
    test::expectReleases(logPolar, logPolar.outputImage, suitable, {[&] {
                           logPolar.inputWidth.setIndexValue((std::size_t{1} << 32) + 100);
                         }});
  }));
}

TEST(LogPolarMap, IsComputedOnlyWhenItsGeometryChanges) {
  const LogPolarGeometry geometry{{320, 240}, 40, {640, 480}, {256, 256}, false};
  LogPolarMap map;
  EXPECT_EQ(map.table(geometry).data, map.table(geometry).data);
  // Each changed field makes a new table, once; coming back makes another, as after a release.
  for (const LogPolarGeometry& changed :
       {LogPolarGeometry{{321, 240}, 40, {640, 480}, {256, 256}, false},
        {{320, 241}, 40, {640, 480}, {256, 256}, false},
        {{320, 240}, 41, {640, 480}, {256, 256}, false},
        {{320, 240}, 40, {640, 400}, {256, 256}, false},
        {{320, 240}, 40, {640, 480}, {256, 200}, false},
        {{320, 240}, 40, {640, 480}, {256, 256}, true}}) {
    map.table(changed);
    map.table(changed);
    map.table(geometry);
  }
  map.release();
  map.table(geometry);
  EXPECT_EQ(map.builds(), 1u + 6 * 2 + 1);
}

}  // namespace
}  // namespace cvcomp
