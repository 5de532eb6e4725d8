

#include "TestSupport.hpp"
#include "filters/OpenCVEqualizeHist.hpp"

namespace cvcomp {
namespace {

using test::execute;

TEST(OpenCVEqualizeHist, EqualsEqualizeHistAndKeepsItsBufferWhileDisabled) {
  cv::Mat first = test::grayPicture("baboon.jpg");
  cv::Mat second = test::grayPicture("fruits.jpg", first.size());
  OpenCVEqualizeHist equalize("equalize");
  std::unique_ptr<test::Published> last;
  for (cv::Mat* input : {&first, &second}) {
    test::feed(equalize.inputImage, *input);
    ASSERT_TRUE(execute(equalize));
    cv::Mat expected;
    cv::equalizeHist(*input, expected);
    ASSERT_NE(imageValue(equalize.outputImage), nullptr);
    EXPECT_TRUE(test::sameBytes(*imageValue(equalize.outputImage), expected));
    EXPECT_TRUE(!last || last->reusedBy(equalize.outputImage));
    last = std::make_unique<test::Published>(equalize.outputImage);
    equalize.disable(test::context());
  }
}

TEST(OpenCVEqualizeHist, StretchesANarrowRangeAndLeavesTheInputAlone) {
  cv::Mat narrow(64, 80, CV_8UC1);
  cv::randu(narrow, 100, 111);  // 100 to 110
  const cv::Mat original = narrow.clone();
  OpenCVEqualizeHist equalize("equalize");
  test::feed(equalize.inputImage, narrow);
  ASSERT_TRUE(execute(equalize));
  ASSERT_NE(imageValue(equalize.outputImage), nullptr);
  EXPECT_TRUE(test::sameBytes(narrow, original));
  EXPECT_TRUE(test::sameBytes(*imageValue(equalize.outputImage) == 255, narrow == 110));
}

TEST(OpenCVEqualizeHist, UnsuitableInputsGiveNilAndReleaseTheBuffer) {
  cv::Mat gray = test::grayPicture("baboon.jpg");
  cv::Mat colour(gray.size(), CV_8UC4, cv::Scalar(1, 2, 3, 4));
  cv::Mat deep(gray.size(), CV_16UC1, cv::Scalar(1000));
  OpenCVEqualizeHist equalize("equalize");
  for (cv::Mat* input : {&colour, &deep, static_cast<cv::Mat*>(nullptr)}) {
    test::expectReleases(
        equalize, equalize.outputImage, [&] { test::feed(equalize.inputImage, gray); },
        [&] { test::feed(equalize.inputImage, input); });
  }
}

}  // namespace
}  // namespace cvcomp
