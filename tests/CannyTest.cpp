#include <gtest/gtest.h>

#include <vector>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "filters/OpenCVCanny.hpp"
#include "plugin/ImageBuffer.hpp"

namespace cvcomp {
namespace {

using test::execute;

cv::Mat grayBuilding() {
  cv::Mat gray;
  cv::cvtColor(test::samplePicture("building.jpg"), gray, cv::COLOR_BGR2GRAY);
  return gray;
}

cv::Mat edgesOf(OpenCVCanny& canny) {
  EXPECT_TRUE(execute(canny));
  const cv::Mat* out = imageValue(canny.outputImage);
  return out ? out->clone() : cv::Mat();
}

TEST(OpenCVCanny, EqualsCannyWithEachAperture) {
  cv::Mat gray = grayBuilding();
  OpenCVCanny canny("canny");
  EXPECT_EQ(canny.inputThreshold1.doubleValue(), 25.0);
  EXPECT_EQ(canny.inputThreshold2.doubleValue(), 25.0);
  EXPECT_EQ(canny.inputAperature.indexValue(), 0u);
  test::feed(canny.inputImage, gray);

  // Aperture 7 has gradients some hundred times those of aperture 3; one pair serves all three.
  canny.inputThreshold1.setDoubleValue(60.0);
  canny.inputThreshold2.setDoubleValue(180.0);
  std::vector<cv::Mat> maps;
  for (std::size_t index : {0u, 1u, 2u}) {
    canny.inputAperature.setIndexValue(index);
    maps.push_back(edgesOf(canny));
    cv::Mat expected;
    cv::Canny(gray, expected, 60.0, 180.0, 3 + 2 * static_cast<int>(index));
    EXPECT_TRUE(test::sameBytes(maps.back(), expected)) << "aperture index " << index;
  }
  EXPECT_FALSE(test::sameBytes(maps[0], maps[1]));
  EXPECT_FALSE(test::sameBytes(maps[1], maps[2]));

  // An index beyond the table, were a port to allow it, uses the largest kernel.
  canny.inputAperature.setMaxIndexValue(9);
  canny.inputAperature.setIndexValue(9);
  EXPECT_TRUE(test::sameBytes(edgesOf(canny), maps[2]));
}

TEST(OpenCVCanny, ThresholdsAreSymmetricAndSinglePrecision) {
  cv::Mat gray = grayBuilding();
  OpenCVCanny canny("canny");
  test::feed(canny.inputImage, gray);
  canny.inputThreshold1.setDoubleValue(100.0);
  canny.inputThreshold2.setDoubleValue(50.0);
  const cv::Mat swapped = edgesOf(canny);
  canny.inputThreshold1.setDoubleValue(50.0);
  canny.inputThreshold2.setDoubleValue(100.0);
  const cv::Mat ordered = edgesOf(canny);
  EXPECT_TRUE(test::sameBytes(swapped, ordered));
  EXPECT_GT(cv::countNonZero(ordered), 0);

  // Just below 150 in double precision is 150 in single precision, and the map shows it.
  canny.inputThreshold2.setDoubleValue(149.99999999999);
  cv::Mat single, full;
  cv::Canny(gray, single, 50.0, 150.0, 3);
  cv::Canny(gray, full, 50.0, 149.99999999999, 3);
  ASSERT_FALSE(test::sameBytes(single, full));
  EXPECT_TRUE(test::sameBytes(edgesOf(canny), single));
}

TEST(OpenCVCanny, ColourOrAbsentInputGivesNilAndReleasesTheBuffer) {
  cv::Mat gray = grayBuilding();
  cv::Mat bgr = test::samplePicture("building.jpg");
  cv::Mat bgra;
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  OpenCVCanny canny("canny");
  test::expectUnsuitableReleases(canny, canny.inputImage, canny.outputImage, gray,
                                 {&bgr, &bgra, nullptr});

  // Disabling releases the buffer as well; the same size otherwise keeps it.
  const auto before = ImageBuffer::allocationCount();
  ASSERT_TRUE(execute(canny));
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  canny.disable(test::context());
  ASSERT_TRUE(execute(canny));
  EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
}

}  // namespace
}  // namespace cvcomp
