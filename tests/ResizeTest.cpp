#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "filters/OpenCVResize.hpp"
#include "plugin/ImageBuffer.hpp"

namespace cvcomp {
namespace {

using test::execute;

cv::Mat photoBGRA(const std::string& name) {
  cv::Mat bgra;
  cv::cvtColor(test::samplePicture(name), bgra, cv::COLOR_BGR2BGRA);
  return bgra;
}

TEST(OpenCVResize, EqualsCvResizeForEachMethod) {
  cv::Mat photo = photoBGRA("baboon.jpg");
  cv::resize(photo, photo, {640, 480});
  OpenCVResize resize("resize");
  test::feed(resize.inputImage, photo);

  // Defaults: 320 × 240, bilinear.
  ASSERT_TRUE(execute(resize));
  const cv::Mat* out = imageValue(resize.outputImage);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->size(), cv::Size(320, 240));
  EXPECT_EQ(out->type(), CV_8UC4);
  cv::Mat expected;
  cv::resize(photo, expected, {320, 240}, 0, 0, cv::INTER_LINEAR);
  EXPECT_TRUE(test::sameBytes(*out, expected));

  resize.inputWidth.setIndexValue(451);
  resize.inputHeight.setIndexValue(173);
  for (int method : {cv::INTER_NEAREST, cv::INTER_LINEAR, cv::INTER_CUBIC, cv::INTER_AREA}) {
    resize.inputMethod.setIndexValue(static_cast<std::size_t>(method));
    ASSERT_TRUE(execute(resize));
    cv::resize(photo, expected, {451, 173}, 0, 0, method);
    EXPECT_TRUE(test::sameBytes(*imageValue(resize.outputImage), expected)) << "method " << method;
  }

  // Requests are bounded to 2048 × 2048 and methods 0 to 3.
  resize.inputWidth.setIndexValue(5000);
  resize.inputHeight.setIndexValue(3000);
  resize.inputMethod.setIndexValue(7);
  EXPECT_EQ(resize.inputWidth.indexValue(), 2048u);
  EXPECT_EQ(resize.inputHeight.indexValue(), 2048u);
  EXPECT_EQ(resize.inputMethod.indexValue(), 3u);

  // At the input's own size the output is a copy of the input.
  resize.inputWidth.setIndexValue(640);
  resize.inputHeight.setIndexValue(480);
  resize.inputMethod.setIndexValue(1);
  ASSERT_TRUE(execute(resize));
  EXPECT_TRUE(test::sameBytes(*imageValue(resize.outputImage), photo));
  EXPECT_NE(imageValue(resize.outputImage)->data, photo.data);
}

TEST(OpenCVResize, BufferFollowsTheRequestedSizeAndTheInputFormat) {
  cv::Mat small = photoBGRA("fruits.jpg");
  cv::resize(small, small, {640, 480});
  cv::Mat large;
  cv::resize(small, large, {800, 600});
  cv::Mat gray;
  cv::cvtColor(large, gray, cv::COLOR_BGRA2GRAY);

  OpenCVResize resize("resize");
  test::feed(resize.inputImage, small);
  ASSERT_TRUE(execute(resize));
  const uchar* data = imageValue(resize.outputImage)->data;
  const auto box = resize.outputImage.cvObjectValue();
  const auto before = ImageBuffer::allocationCount();

  // Another input size, then another method: the same buffer, published in a new box.
  test::feed(resize.inputImage, large);
  ASSERT_TRUE(execute(resize));
  EXPECT_NE(resize.outputImage.cvObjectValue(), box);
  resize.inputMethod.setIndexValue(0);
  ASSERT_TRUE(execute(resize));
  EXPECT_EQ(imageValue(resize.outputImage)->data, data);
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  cv::Mat expected;
  cv::resize(large, expected, {320, 240}, 0, 0, cv::INTER_NEAREST);
  EXPECT_TRUE(test::sameBytes(*imageValue(resize.outputImage), expected));

  // One channel instead of four: a new one-channel buffer.
  test::feed(resize.inputImage, gray);
  ASSERT_TRUE(execute(resize));
  EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
  EXPECT_EQ(imageValue(resize.outputImage)->type(), CV_8UC1);
  cv::resize(gray, expected, {320, 240}, 0, 0, cv::INTER_NEAREST);
  EXPECT_TRUE(test::sameBytes(*imageValue(resize.outputImage), expected));

  // Another requested size: a new buffer of that size.
  resize.inputHeight.setIndexValue(100);
  ASSERT_TRUE(execute(resize));
  EXPECT_EQ(ImageBuffer::allocationCount(), before + 2);
  EXPECT_EQ(imageValue(resize.outputImage)->size(), cv::Size(320, 100));
}

TEST(OpenCVResize, ZeroSizeOrNoInputGivesNilAndReleasesTheBuffer) {
  cv::Mat photo = photoBGRA("home.jpg");
  OpenCVResize resize("resize");
  auto nilAfter = [&](auto&& makeUnsuitable, auto&& restore) {
    test::feed(resize.inputImage, photo);
    EXPECT_TRUE(execute(resize));
    EXPECT_NE(imageValue(resize.outputImage), nullptr);
    makeUnsuitable();
    EXPECT_TRUE(execute(resize));
    EXPECT_EQ(resize.outputImage.cvObjectValue(), nullptr);
    restore();
    const auto before = ImageBuffer::allocationCount();
    EXPECT_TRUE(execute(resize));
    EXPECT_NE(imageValue(resize.outputImage), nullptr);
    // The buffer was released on the unsuitable frame, so it is made anew.
    EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
  };
  nilAfter([&] { resize.inputWidth.setIndexValue(0); },
           [&] { resize.inputWidth.setIndexValue(320); });
  nilAfter([&] { resize.inputHeight.setIndexValue(0); },
           [&] { resize.inputHeight.setIndexValue(240); });
  nilAfter([&] { resize.inputImage.setCvObjectValue(nullptr); },
           [&] { test::feed(resize.inputImage, photo); });
}

}  // namespace
}  // namespace cvcomp
