

#include "TestSupport.hpp"
#include "filters/OpenCVCanny.hpp"

namespace cvcomp {
namespace {

using test::execute;

cv::Mat edgesOf(OpenCVCanny& canny, double threshold1, double threshold2) {
  canny.inputThreshold1.setDoubleValue(threshold1);
  canny.inputThreshold2.setDoubleValue(threshold2);
  EXPECT_TRUE(execute(canny));
  const cv::Mat* out = imageValue(canny.outputImage);
  return out ? out->clone() : cv::Mat();
}

TEST(OpenCVCanny, EqualsCannyWithEachApertureAndEitherThresholdOrder) {
  cv::Mat gray = test::grayPicture("building.jpg");
  OpenCVCanny canny("canny");
  EXPECT_EQ(canny.inputThreshold1.doubleValue(), 25.0);
  EXPECT_EQ(canny.inputThreshold2.doubleValue(), 25.0);
  EXPECT_EQ(canny.inputAperature.indexValue(), 0u);
  test::feed(canny.inputImage, gray);
  // Aperture 7 has gradients some hundred times those of aperture 3; one pair serves all three.
  std::vector<cv::Mat> maps;
  for (std::size_t index : {0u, 1u, 2u}) {
    canny.inputAperature.setIndexValue(index);
    cv::Mat expected;
    cv::Canny(gray, expected, 60.0, 180.0, 3 + 2 * static_cast<int>(index));
    maps.push_back(edgesOf(canny, 60.0, 180.0));
    EXPECT_TRUE(test::sameBytes(maps.back(), expected)) << "aperture index " << index;
    EXPECT_TRUE(test::sameBytes(edgesOf(canny, 180.0, 60.0), expected)) << "swapped " << index;
  }
  EXPECT_FALSE(test::sameBytes(maps[0], maps[1]));
  EXPECT_FALSE(test::sameBytes(maps[1], maps[2]));
  // An index beyond the table, were a port to allow it, uses the largest kernel.
  canny.inputAperature.setMaxIndexValue(9);
  canny.inputAperature.setIndexValue(9);
  EXPECT_TRUE(test::sameBytes(edgesOf(canny, 60.0, 180.0), maps[2]));
}

TEST(OpenCVCanny, ColourOrAbsentInputGivesNilAndReleasesTheBuffer) {
  cv::Mat gray = test::grayPicture("building.jpg");
  cv::Mat bgr = test::samplePicture("building.jpg"), bgra;
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  OpenCVCanny canny("canny");
  const auto suitable = [&] { test::feed(canny.inputImage, gray); };
  for (cv::Mat* input : {&bgr, &bgra, static_cast<cv::Mat*>(nullptr)}) {
    test::expectReleases(canny, canny.outputImage, suitable,
                         [&] { test::feed(canny.inputImage, input); });
  }
  test::expectReleases(
      canny, canny.outputImage, suitable, [&] { canny.disable(test::context()); }, false);
}

}  // namespace
}  // namespace cvcomp
