

#include "TestSupport.hpp"
#include "bridge/OpenCVImageToQCImage.hpp"
#include "filters/OpenCVBGR2Gray.hpp"
#include "plugin/OpenCVGuard.hpp"

namespace cvcomp {
namespace {

using test::execute;

TEST(OpenCVBGR2Gray, EqualsCvtColorAndReusesItsBuffer) {
  cv::Mat bgr = test::samplePicture("baboon.jpg");
  cv::Mat bgra = test::bgraPicture("fruits.jpg"), deep, smaller;
  cv::resize(bgra, bgra, bgr.size());
  bgr.convertTo(deep, CV_16U, 256);
  cv::resize(bgra, smaller, {320, 240});
  OpenCVBGR2Gray gray("gray");
  std::unique_ptr<test::Published> last;
  for (auto [input, code] : {std::pair{&bgr, cv::COLOR_BGR2GRAY},
                             {&bgra, cv::COLOR_BGRA2GRAY},
                             {&deep, cv::COLOR_BGR2GRAY},
                             {&smaller, cv::COLOR_BGRA2GRAY}}) {
    test::feed(gray.inputImage, *input);
    ASSERT_TRUE(execute(gray));
    cv::Mat expected;
    cv::cvtColor(*input, expected, code);
    ASSERT_NE(imageValue(gray.outputImage), nullptr);
    EXPECT_TRUE(test::sameBytes(*imageValue(gray.outputImage), expected));
    // Equal size and depth: the same buffer in a new box; a new depth or size: a new buffer.
    EXPECT_EQ(last && last->reusedBy(gray.outputImage), input == &bgra);
    last = std::make_unique<test::Published>(gray.outputImage);
  }
}

TEST(OpenCVBGR2Gray, ReleasesOnAbsentOrGrayInputAndOnDisable) {
  cv::Mat colour = test::samplePicture("baboon.jpg");
  cv::Mat alreadyGray = test::grayPicture("baboon.jpg");
  cv::Mat twoChannels(colour.size(), CV_8UC2, cv::Scalar(5, 6));
  OpenCVBGR2Gray gray("gray");
  const auto suitable = [&] { test::feed(gray.inputImage, colour); };
  for (cv::Mat* input : {static_cast<cv::Mat*>(nullptr), &alreadyGray, &twoChannels}) {
    test::expectReleases(gray, gray.outputImage, suitable,
                         [&] { test::feed(gray.inputImage, input); });
  }
  test::expectReleases(
      gray, gray.outputImage, suitable, [&] { gray.disable(test::context()); }, false);
}

TEST(OpenCVErrors, AreReportedAndThePatchCarriesOn) {
  // A 16-bit image cannot go into the 8-bit conversion buffer: OpenCV itself refuses the call.
  cv::Mat deep(40, 50, CV_16UC3, cv::Scalar(1, 2, 3));
  cv::Mat good(40, 50, CV_8UC3, cv::Scalar(11, 22, 33));
  OpenCVImageToQCImage toHost("toHost");
  toHost.enable(test::context());
  const auto run = [&](cv::Mat& input) {
    test::feed(toHost.inputImage, input);
    return test::stderrOf([&] { EXPECT_TRUE(execute(toHost)); });
  };
  EXPECT_NE(run(deep).find("OpenCVImageToQCImage: OpenCV("), std::string::npos);
  // Nothing was ever converted, so nothing is shown.
  EXPECT_EQ(toHost.outputImage.imageValue(), nullptr);
  EXPECT_EQ(run(good), "");
  ASSERT_NE(toHost.outputImage.imageValue(), nullptr);
  EXPECT_EQ(test::pixelBufferOf(*toHost.outputImage.imageValue()).at<cv::Vec4b>(0, 0),
            cv::Vec4b(11, 22, 33, 255));
  // After an error on a buffer that holds an earlier frame, that frame is shown again.
  // The same report again is counted, and the count shows when the reports are flushed.
  EXPECT_NE(test::stderrOf([&] {
              test::feed(toHost.inputImage, deep);
              EXPECT_TRUE(execute(toHost));
              flushOpenCVErrorReports();
            }).find("OpenCVImageToQCImage: repeated 1 more time"),
            std::string::npos);
  ASSERT_NE(toHost.outputImage.imageValue(), nullptr);
  EXPECT_EQ(test::pixelBufferOf(*toHost.outputImage.imageValue()).at<cv::Vec4b>(39, 49),
            cv::Vec4b(11, 22, 33, 255));
}

}  // namespace
}  // namespace cvcomp
