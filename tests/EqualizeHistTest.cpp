#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "filters/OpenCVEqualizeHist.hpp"
#include "plugin/ImageBuffer.hpp"

namespace cvcomp {
namespace {

using test::execute;

cv::Mat grayPicture(const std::string& name) {
  cv::Mat gray;
  cv::cvtColor(test::samplePicture(name), gray, cv::COLOR_BGR2GRAY);
  return gray;
}

TEST(OpenCVEqualizeHist, EqualsEqualizeHistOnARealPicture) {
  cv::Mat gray = grayPicture("fruits.jpg");
  OpenCVEqualizeHist equalize("equalize");
  test::feed(equalize.inputImage, gray);
  ASSERT_TRUE(execute(equalize));
  cv::Mat expected;
  cv::equalizeHist(gray, expected);
  const cv::Mat* out = imageValue(equalize.outputImage);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(test::sameBytes(*out, expected));
  EXPECT_NE(out->data, gray.data);
}

TEST(OpenCVEqualizeHist, StretchesANarrowRangeAndLeavesTheInputAlone) {
  cv::Mat narrow(64, 80, CV_8UC1);
  cv::randu(narrow, 100, 111);  // 100 to 110
  const cv::Mat original = narrow.clone();
  OpenCVEqualizeHist equalize("equalize");
  test::feed(equalize.inputImage, narrow);
  ASSERT_TRUE(execute(equalize));
  const cv::Mat* out = imageValue(equalize.outputImage);
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(test::sameBytes(narrow, original));
  EXPECT_TRUE(test::sameBytes(*out == 255, narrow == 110));
}

TEST(OpenCVEqualizeHist, UnsuitableInputsGiveNilAndReleaseTheBuffer) {
  cv::Mat gray = grayPicture("baboon.jpg");
  cv::Mat colour(gray.size(), CV_8UC4, cv::Scalar(1, 2, 3, 4));
  cv::Mat deep(gray.size(), CV_16UC1, cv::Scalar(1000));
  OpenCVEqualizeHist equalize("equalize");
  test::expectUnsuitableReleases(equalize, equalize.inputImage, equalize.outputImage, gray,
                                 {&colour, &deep, nullptr});
}

TEST(OpenCVEqualizeHist, KeepsTheBufferWhileDisabled) {
  cv::Mat first = grayPicture("baboon.jpg");
  cv::Mat second = grayPicture("fruits.jpg");
  cv::resize(second, second, first.size());
  OpenCVEqualizeHist equalize("equalize");
  test::feed(equalize.inputImage, first);
  ASSERT_TRUE(execute(equalize));
  const auto box = equalize.outputImage.cvObjectValue();
  const uchar* data = imageValue(equalize.outputImage)->data;
  const auto before = ImageBuffer::allocationCount();

  equalize.disable(test::context());
  test::feed(equalize.inputImage, second);
  ASSERT_TRUE(execute(equalize));
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  EXPECT_NE(equalize.outputImage.cvObjectValue(), box);
  EXPECT_EQ(imageValue(equalize.outputImage)->data, data);
  cv::Mat expected;
  cv::equalizeHist(second, expected);
  EXPECT_TRUE(test::sameBytes(*imageValue(equalize.outputImage), expected));
}

}  // namespace
}  // namespace cvcomp
