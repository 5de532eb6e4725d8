// The image filters against the OpenCV functions they wrap: exact output, buffer reuse, and
// release on unsuitable input.

#include "TestSupport.hpp"
#include "bridge/OpenCVImageToQCImage.hpp"
#include "filters/OpenCVBGR2Gray.hpp"
#include "filters/OpenCVCanny.hpp"
#include "filters/OpenCVEqualizeHist.hpp"
#include "filters/OpenCVResize.hpp"

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
  run(deep);
  ASSERT_NE(toHost.outputImage.imageValue(), nullptr);
  EXPECT_EQ(test::pixelBufferOf(*toHost.outputImage.imageValue()).at<cv::Vec4b>(39, 49),
            cv::Vec4b(11, 22, 33, 255));
}

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

TEST(OpenCVEqualizeHist, EqualsEqualizeHistLeavesItsInputAndKeepsItsBufferWhileDisabled) {
  cv::Mat first = test::grayPicture("baboon.jpg");
  cv::Mat second = test::grayPicture("fruits.jpg", first.size());
  OpenCVEqualizeHist equalize("equalize");
  std::unique_ptr<test::Published> last;
  for (cv::Mat* input : {&first, &second}) {
    const cv::Mat original = input->clone();
    test::feed(equalize.inputImage, *input);
    ASSERT_TRUE(execute(equalize));
    EXPECT_TRUE(test::sameBytes(*input, original));
    cv::Mat expected;
    cv::equalizeHist(*input, expected);
    ASSERT_NE(imageValue(equalize.outputImage), nullptr);
    EXPECT_TRUE(test::sameBytes(*imageValue(equalize.outputImage), expected));
    EXPECT_TRUE(!last || last->reusedBy(equalize.outputImage));
    last = std::make_unique<test::Published>(equalize.outputImage);
    equalize.disable(test::context());
  }
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
