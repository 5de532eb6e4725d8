

#include "TestSupport.hpp"
#include "filters/OpenCVResize.hpp"

namespace cvcomp {
namespace {

using test::execute;

TEST(OpenCVResize, EqualsCvResizeForEachMethodWithinItsBounds) {
  cv::Mat photo = test::bgraPicture("baboon.jpg");
  OpenCVResize resize("resize");
  test::feed(resize.inputImage, photo);
  // Defaults: 320 × 240, bilinear; then other sizes with each method.
  for (auto [w, h, method] : {std::tuple{320, 240, -1},
                              {451, 173, cv::INTER_NEAREST},
                              {451, 173, cv::INTER_LINEAR},
                              {451, 173, cv::INTER_CUBIC},
                              {451, 173, cv::INTER_AREA}}) {
    if (method >= 0) {
      resize.inputWidth.setIndexValue(static_cast<std::size_t>(w));
      resize.inputHeight.setIndexValue(static_cast<std::size_t>(h));
      resize.inputMethod.setIndexValue(static_cast<std::size_t>(method));
    }
    ASSERT_TRUE(execute(resize));
    cv::Mat expected;
    cv::resize(photo, expected, {w, h}, 0, 0, method >= 0 ? method : cv::INTER_LINEAR);
    ASSERT_NE(imageValue(resize.outputImage), nullptr);
    EXPECT_TRUE(test::sameBytes(*imageValue(resize.outputImage), expected)) << method;
  }
  // Requests are bounded to 2048 × 2048 and methods 0 to 3.
  resize.inputWidth.setIndexValue(5000);
  resize.inputHeight.setIndexValue(3000);
  resize.inputMethod.setIndexValue(7);
  EXPECT_EQ(resize.inputWidth.indexValue(), 2048u);
  EXPECT_EQ(resize.inputHeight.indexValue(), 2048u);
  EXPECT_EQ(resize.inputMethod.indexValue(), 3u);
}

TEST(OpenCVResize, BufferFollowsTheRequestedSizeAndTheInputFormat) {
  cv::Mat small = test::bgraPicture("fruits.jpg"), large, gray;
  cv::resize(small, large, {800, 600});
  cv::cvtColor(large, gray, cv::COLOR_BGRA2GRAY);
  OpenCVResize resize("resize");
  resize.inputMethod.setIndexValue(0);
  test::feed(resize.inputImage, small);
  ASSERT_TRUE(execute(resize));
  const test::Published first(resize.outputImage);
  // Another input size: the same buffer in a new box; one channel instead of four or another
  // requested size: a new buffer.
  for (auto [input, height, allocated] :
       {std::tuple{&large, 240, 0u}, {&gray, 240, 1u}, {&gray, 100, 2u}}) {
    test::feed(resize.inputImage, *input);
    resize.inputHeight.setIndexValue(static_cast<std::size_t>(height));
    ASSERT_TRUE(execute(resize));
    EXPECT_EQ(first.reusedBy(resize.outputImage), allocated == 0);
    EXPECT_EQ(first.allocatedSince(), allocated);
    cv::Mat expected;
    cv::resize(*input, expected, {320, height}, 0, 0, cv::INTER_NEAREST);
    EXPECT_TRUE(test::sameBytes(*imageValue(resize.outputImage), expected));
  }
}

TEST(OpenCVResize, ZeroSizeOrNoInputGivesNilAndReleasesTheBuffer) {
  cv::Mat photo = test::bgraPicture("home.jpg");
  OpenCVResize resize("resize");
  const auto suitable = [&] {
    test::feed(resize.inputImage, photo);
    resize.inputWidth.setIndexValue(320);
    resize.inputHeight.setIndexValue(240);
  };
  for (const auto& unsuitable : std::initializer_list<std::function<void()>>{
           [&] { resize.inputWidth.setIndexValue(0); },
           [&] { resize.inputHeight.setIndexValue(0); },
           [&] { test::feed(resize.inputImage, nullptr); }}) {
    test::expectReleases(resize, resize.outputImage, suitable, unsuitable);
  }
}

}  // namespace
}  // namespace cvcomp
