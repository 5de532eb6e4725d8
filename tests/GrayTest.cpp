#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "bridge/OpenCVImageToQCImage.hpp"
#include "filters/OpenCVBGR2Gray.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/OpenCVGuard.hpp"

namespace cvcomp {
namespace {

using test::execute;

TEST(OpenCVBGR2Gray, EqualsCvtColorForThreeAndFourChannels) {
  cv::Mat bgr = test::samplePicture("baboon.jpg");
  cv::Mat bgra;
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  OpenCVBGR2Gray gray("gray");
  for (auto [input, code] : {std::pair{&bgr, cv::COLOR_BGR2GRAY}, {&bgra, cv::COLOR_BGRA2GRAY}}) {
    test::feed(gray.inputImage, *input);
    ASSERT_TRUE(execute(gray));
    cv::Mat expected;
    cv::cvtColor(*input, expected, code);
    const cv::Mat* out = imageValue(gray.outputImage);
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(test::sameBytes(*out, expected));
  }
}

TEST(OpenCVBGR2Gray, ReusesTheBufferInANewBoxAtEqualSize) {
  cv::Mat first(480, 640, CV_8UC4, cv::Scalar(10, 20, 30, 0));
  cv::Mat second(480, 640, CV_8UC4, cv::Scalar(200, 100, 50, 0));
  OpenCVBGR2Gray gray("gray");
  test::feed(gray.inputImage, first);
  ASSERT_TRUE(execute(gray));
  const auto box = gray.outputImage.cvObjectValue();
  const uchar* data = imageValue(gray.outputImage)->data;
  const auto before = ImageBuffer::allocationCount();

  test::feed(gray.inputImage, second);
  ASSERT_TRUE(execute(gray));
  EXPECT_NE(gray.outputImage.cvObjectValue(), box);
  EXPECT_EQ(imageValue(gray.outputImage)->data, data);
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  cv::Mat expected;
  cv::cvtColor(second, expected, cv::COLOR_BGRA2GRAY);
  EXPECT_TRUE(test::sameBytes(*imageValue(gray.outputImage), expected));

  cv::Mat smaller(240, 320, CV_8UC4, cv::Scalar(1, 2, 3, 4));
  test::feed(gray.inputImage, smaller);
  ASSERT_TRUE(execute(gray));
  EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
  EXPECT_EQ(imageValue(gray.outputImage)->size(), cv::Size(320, 240));
}

TEST(OpenCVBGR2Gray, ReleasesOnAbsentOrGrayInputAndOnDisable) {
  cv::Mat colour(100, 100, CV_8UC3, cv::Scalar(9, 8, 7));
  cv::Mat alreadyGray(100, 100, CV_8UC1, cv::Scalar(5));
  cv::Mat twoChannels(100, 100, CV_8UC2, cv::Scalar(5, 6));
  OpenCVBGR2Gray gray("gray");

  auto releasedSinceLastRun = [&](auto&& makeUnsuitable) {
    test::feed(gray.inputImage, colour);
    EXPECT_TRUE(execute(gray));
    makeUnsuitable();
    const auto before = ImageBuffer::allocationCount();
    test::feed(gray.inputImage, colour);
    EXPECT_TRUE(execute(gray));
    EXPECT_NE(gray.outputImage.cvObjectValue(), nullptr);
    return ImageBuffer::allocationCount() == before + 1;
  };
  auto runWith = [&](cv::Mat* input) {
    if (input)
      test::feed(gray.inputImage, *input);
    else
      gray.inputImage.setCvObjectValue(nullptr);
    EXPECT_TRUE(execute(gray));
    EXPECT_EQ(gray.outputImage.cvObjectValue(), nullptr);
  };
  EXPECT_TRUE(releasedSinceLastRun([&] { runWith(nullptr); }));
  EXPECT_TRUE(releasedSinceLastRun([&] { runWith(&alreadyGray); }));
  EXPECT_TRUE(releasedSinceLastRun([&] { runWith(&twoChannels); }));
  EXPECT_TRUE(releasedSinceLastRun([&] { gray.disable(test::context()); }));
}

TEST(OpenCVBGR2Gray, FollowsTheInputDepth) {
  cv::Mat deep(50, 60, CV_16UC3, cv::Scalar(1000, 20000, 40000));
  OpenCVBGR2Gray gray("gray");
  test::feed(gray.inputImage, deep);
  ASSERT_TRUE(execute(gray));
  cv::Mat expected;
  cv::cvtColor(deep, expected, cv::COLOR_BGR2GRAY);
  EXPECT_TRUE(test::sameBytes(*imageValue(gray.outputImage), expected));
}

TEST(OpenCVErrors, AreReportedAndThePatchCarriesOn) {
  // A 16-bit image cannot go into the 8-bit conversion buffer: OpenCV itself refuses the call.
  cv::Mat deep(40, 50, CV_16UC3, cv::Scalar(1, 2, 3));
  cv::Mat good(40, 50, CV_8UC3, cv::Scalar(11, 22, 33));
  OpenCVImageToQCImage toHost("toHost");
  toHost.enable(test::context());

  test::feed(toHost.inputImage, deep);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(execute(toHost));
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("OpenCVImageToQCImage: OpenCV("), std::string::npos) << report;
  EXPECT_NE(report.find("error"), std::string::npos) << report;
  // Nothing was ever converted, so nothing is shown.
  EXPECT_EQ(toHost.outputImage.imageValue(), nullptr);

  test::feed(toHost.inputImage, good);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(execute(toHost));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(toHost.outputImage.imageValue(), nullptr);
  EXPECT_EQ(test::pixelBufferOf(*toHost.outputImage.imageValue()).at<cv::Vec4b>(0, 0),
            cv::Vec4b(11, 22, 33, 255));

  // After an error on a buffer that holds an earlier frame, that frame is shown again.
  test::feed(toHost.inputImage, deep);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(execute(toHost));
  flushOpenCVErrorReports();
  EXPECT_NE(
      testing::internal::GetCapturedStderr().find("OpenCVImageToQCImage: repeated 1 more time"),
      std::string::npos);
  ASSERT_NE(toHost.outputImage.imageValue(), nullptr);
  EXPECT_EQ(test::pixelBufferOf(*toHost.outputImage.imageValue()).at<cv::Vec4b>(39, 49),
            cv::Vec4b(11, 22, 33, 255));
}

}  // namespace
}  // namespace cvcomp
