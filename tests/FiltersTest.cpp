// The image filters and the bridges between host and OpenCV images against the OpenCV functions
// they wrap: exact output, buffer reuse, and release on unsuitable input.

#include "TestSupport.hpp"
#include "bridge/OpenCVImageToQCImage.hpp"
#include "bridge/QCImageToOpenCVImage.hpp"
#include "filters/OpenCVBGR2Gray.hpp"
#include "filters/OpenCVCanny.hpp"
#include "filters/OpenCVEqualizeHist.hpp"
#include "filters/OpenCVResize.hpp"

namespace cvcomp {
namespace {

using test::execute;
using test::feeding;

TEST(QCImageToOpenCVImage, CopiesTheBitmapAsCvFlipWouldAndReleasesItOnNoImage) {
  const cv::Mat bgra = test::bgraPicture("fruits.jpg");
  QCImageToOpenCVImage bridge("toCV");
  bridge.inputImage.setImageValue(test::hostImage(bgra));
  std::unique_ptr<test::Published> last;
  // Mode 2 keeps the rows as they are; the same size reuses the buffer, one copy per frame.
  for (auto [mode, code] : {std::pair{0, 0}, {1, -1}, {2, 2}, {3, 1}}) {
    bridge.inputFlip.setIndexValue(static_cast<std::size_t>(mode));
    ASSERT_TRUE(execute(bridge));
    cv::Mat expected = bgra.clone();
    if (code != 2) cv::flip(bgra, expected, code);
    EXPECT_TRUE(test::publishes(bridge.outputImage, expected)) << "mode " << mode;
    EXPECT_TRUE(!last || last->reusedBy(bridge.outputImage)) << "mode " << mode;
    last = std::make_unique<test::Published>(bridge.outputImage);
  }
  // Another size, with fractional bounds that truncate: the buffer is made anew each frame.
  bridge.inputImage.setImageValue(
      std::make_shared<QCImage>(Bitmap::allocate(101, 60), QCRect{3.0, 4.0, 100.5, 60.0}));
  for (int frame = 0; frame < 2; ++frame) {
    const test::Published before(bridge.outputImage);
    ASSERT_TRUE(execute(bridge));
    EXPECT_EQ(before.allocatedSince(), 1u) << "frame " << frame;
    ASSERT_NE(imageValue(bridge.outputImage), nullptr);
    EXPECT_EQ(imageValue(bridge.outputImage)->size(), cv::Size(100, 60));
  }
  // No image, or an image whose bounds hold no pixel, gives nil and releases the buffer.
  const auto input = [&](std::shared_ptr<QCImage> image) {
    return [&bridge, image] { bridge.inputImage.setImageValue(image); };
  };
  test::expectReleases(
      bridge, bridge.outputImage, input(test::hostImage(bgra)),
      {input(nullptr), input(std::make_shared<QCImage>(Bitmap::allocate(4, 4), QCRect{}))});
}

TEST(OpenCVImageToQCImage, ConvertsOneThreeAndFourChannelsByteExactAndCarriesOnAfterErrors) {
  cv::Mat bgra = test::bgraPicture("fruits.jpg"), bgr, gray, deep;
  cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
  cv::cvtColor(bgra, gray, cv::COLOR_BGRA2GRAY);
  // A 16-bit image cannot go into the 8-bit conversion buffer: OpenCV itself refuses the call.
  bgr.convertTo(deep, CV_16U, 256);
  cv::Mat twoChannels(40, 30, CV_8UC2, cv::Scalar(1, 2));
  OpenCVImageToQCImage toHost("toHost");
  const auto run = [&](cv::Mat& input) {
    test::feed(toHost.inputImage, &input);
    return test::stderrOf([&] { EXPECT_TRUE(execute(toHost)); });
  };
  const auto shown = [&] {
    const auto& image = toHost.outputImage.imageValue();
    return image ? test::pixelBufferOf(*image) : cv::Mat();
  };
  EXPECT_NE(run(deep).find("OpenCVImageToQCImage: OpenCV("), std::string::npos);
  // Nothing was ever converted, so nothing is shown.
  EXPECT_TRUE(shown().empty());
  for (auto [input, code] : {std::pair<cv::Mat*, int>{&gray, cv::COLOR_GRAY2BGRA},
                             {&bgra, -1},
                             {&bgr, cv::COLOR_BGR2BGRA}}) {
    EXPECT_EQ(run(*input), "");
    cv::Mat expected = *input, upright;
    if (code >= 0) cv::cvtColor(*input, expected, code);
    // Row 0 of the OpenCV image is the pixel buffer's first memory row, i.e. the bottom row.
    ASSERT_TRUE(test::sameBytes(shown(), expected)) << input->channels();
    cv::flip(expected, upright, 0);
    EXPECT_TRUE(test::sameBytes(test::bitmapOf(*toHost.outputImage.imageValue()), upright));
  }
  // After an error on a buffer that holds an earlier frame, that frame is shown again.
  const cv::Mat before = shown().clone();
  run(deep);
  EXPECT_TRUE(test::sameBytes(shown(), before));
  // Channel counts it cannot convert never publish unwritten pixels.
  run(twoChannels);
  EXPECT_EQ(toHost.outputImage.imageValue(), nullptr);
}

TEST(OpenCVBGR2Gray, EqualsCvtColorReusesItsBufferAndReleasesItOnUnsuitableInput) {
  cv::Mat bgr = test::samplePicture("baboon.jpg"), alreadyGray = test::grayPicture("baboon.jpg");
  cv::Mat bgra = test::bgraPicture("fruits.jpg"), deep, smaller;
  cv::resize(bgra, bgra, bgr.size());
  bgr.convertTo(deep, CV_16U, 256);
  cv::resize(bgra, smaller, {320, 240});
  cv::Mat twoChannels(bgr.size(), CV_8UC2, cv::Scalar(5, 6));
  OpenCVBGR2Gray gray("gray");
  std::unique_ptr<test::Published> last;
  for (auto [input, code] : {std::pair{&bgr, cv::COLOR_BGR2GRAY},
                             {&bgra, cv::COLOR_BGRA2GRAY},
                             {&deep, cv::COLOR_BGR2GRAY},
                             {&smaller, cv::COLOR_BGRA2GRAY}}) {
    test::feed(gray.inputImage, input);
    ASSERT_TRUE(execute(gray));
    cv::Mat expected;
    cv::cvtColor(*input, expected, code);
    EXPECT_TRUE(test::publishes(gray.outputImage, expected));
    // Equal size and depth: the same buffer in a new box; a new depth or size: a new buffer.
    EXPECT_EQ(last && last->reusedBy(gray.outputImage), input == &bgra);
    last = std::make_unique<test::Published>(gray.outputImage);
  }
  // Absent, gray or two-channel input, and disabling, release the buffer.
  const auto input = [&](cv::Mat* image) { return feeding(gray.inputImage, image); };
  test::expectReleases(gray, gray.outputImage, input(&bgr),
                       {input(nullptr), input(&alreadyGray), input(&twoChannels)}, true);
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
  test::feed(canny.inputImage, &gray);
  // Aperture 7 has gradients some hundred times those of aperture 3; one pair serves all three.
  for (std::size_t index : {0u, 1u, 2u}) {
    canny.inputAperature.setIndexValue(index);
    cv::Mat expected;
    cv::Canny(gray, expected, 60.0, 180.0, 3 + 2 * static_cast<int>(index));
    EXPECT_TRUE(test::sameBytes(edgesOf(canny, 60.0, 180.0), expected)) << "aperture " << index;
    EXPECT_TRUE(test::sameBytes(edgesOf(canny, 180.0, 60.0), expected)) << "swapped " << index;
  }
  // Colour or absent input, and disabling, release the buffer.
  cv::Mat bgr = test::samplePicture("building.jpg"), bgra = test::bgraPicture("building.jpg");
  const auto input = [&](cv::Mat* image) { return feeding(canny.inputImage, image); };
  test::expectReleases(canny, canny.outputImage, input(&gray),
                       {input(&bgr), input(&bgra), input(nullptr)}, true);
}

TEST(OpenCVEqualizeHist, EqualsEqualizeHistLeavesItsInputAndKeepsItsBufferWhileDisabled) {
  cv::Mat first = test::grayPicture("baboon.jpg");
  cv::Mat second = test::grayPicture("fruits.jpg", first.size());
  OpenCVEqualizeHist equalize("equalize");
  std::unique_ptr<test::Published> last;
  for (cv::Mat* input : {&first, &second}) {
    const cv::Mat original = input->clone();
    test::feed(equalize.inputImage, input);
    ASSERT_TRUE(execute(equalize));
    EXPECT_TRUE(test::sameBytes(*input, original));
    cv::Mat expected;
    cv::equalizeHist(*input, expected);
    EXPECT_TRUE(test::publishes(equalize.outputImage, expected));
    EXPECT_TRUE(!last || last->reusedBy(equalize.outputImage));
    last = std::make_unique<test::Published>(equalize.outputImage);
    equalize.disable(test::context());
  }
  // Colour, 16-bit or absent input releases the buffer.
  cv::Mat colour(first.size(), CV_8UC4, cv::Scalar(1, 2, 3, 4));
  cv::Mat deep(first.size(), CV_16UC1, cv::Scalar(1000));
  const auto input = [&](cv::Mat* image) { return feeding(equalize.inputImage, image); };
  test::expectReleases(equalize, equalize.outputImage, input(&first),
                       {input(&colour), input(&deep), input(nullptr)});
}

TEST(OpenCVResize, EqualsCvResizeAndKeepsItsBufferWhileTheSizeAndChannelsStay) {
  cv::Mat photo = test::bgraPicture("baboon.jpg"), large, gray;
  cv::resize(photo, large, {800, 600});
  cv::cvtColor(large, gray, cv::COLOR_BGRA2GRAY);
  OpenCVResize resize("resize");
  std::unique_ptr<test::Published> last;
  // Each method, another input size, one channel instead of four, another requested size.
  for (auto [input, w, h, method, reuses] : {std::tuple{&photo, 451, 173, cv::INTER_NEAREST, false},
                                             {&photo, 451, 173, cv::INTER_LINEAR, true},
                                             {&photo, 451, 173, cv::INTER_CUBIC, true},
                                             {&photo, 451, 173, cv::INTER_AREA, true},
                                             {&large, 451, 173, cv::INTER_AREA, true},
                                             {&gray, 451, 173, cv::INTER_AREA, false},
                                             {&gray, 451, 100, cv::INTER_AREA, false}}) {
    test::feed(resize.inputImage, input);
    resize.inputWidth.setIndexValue(static_cast<std::size_t>(w));
    resize.inputHeight.setIndexValue(static_cast<std::size_t>(h));
    resize.inputMethod.setIndexValue(static_cast<std::size_t>(method));
    ASSERT_TRUE(execute(resize));
    cv::Mat expected;
    cv::resize(*input, expected, {w, h}, 0, 0, method);
    EXPECT_TRUE(test::publishes(resize.outputImage, expected)) << method;
    EXPECT_EQ(last && last->reusedBy(resize.outputImage), reuses) << w << "x" << h << " " << method;
    EXPECT_TRUE(!last || last->allocatedSince() == (reuses ? 0u : 1u));
    last = std::make_unique<test::Published>(resize.outputImage);
  }
  // A zero size or no input releases the buffer.
  const auto suitable = [&] {
    test::feed(resize.inputImage, &photo);
    resize.inputWidth.setIndexValue(320);
    resize.inputHeight.setIndexValue(240);
  };
  test::expectReleases(
      resize, resize.outputImage, suitable,
      {[&] { resize.inputWidth.setIndexValue(0); }, [&] { resize.inputHeight.setIndexValue(0); },
       feeding(resize.inputImage, nullptr)});
}

}  // namespace
}  // namespace cvcomp
