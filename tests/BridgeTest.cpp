// The bridges between host images and OpenCV images: flip modes, channel counts, buffers.

#include "TestSupport.hpp"
#include "bridge/OpenCVImageToQCImage.hpp"
#include "bridge/QCImageToOpenCVImage.hpp"

namespace cvcomp {
namespace {

using test::execute;

TEST(QCImageToOpenCVImage, EachFlipModeCopiesTheBitmapAsCvFlipWould) {
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
    ASSERT_NE(imageValue(bridge.outputImage), nullptr);
    EXPECT_TRUE(test::sameBytes(*imageValue(bridge.outputImage), expected)) << "mode " << mode;
    EXPECT_TRUE(!last || last->reusedBy(bridge.outputImage)) << "mode " << mode;
    last = std::make_unique<test::Published>(bridge.outputImage);
  }
  bridge.inputImage.setImageValue(test::hostImage(bgra(cv::Rect(0, 0, 320, 200))));
  ASSERT_TRUE(execute(bridge));
  EXPECT_EQ(last->allocatedSince(), 1u);
  EXPECT_EQ(imageValue(bridge.outputImage)->size(), cv::Size(320, 200));
}

TEST(QCImageToOpenCVImage, FractionalBoundsTruncateAndAreRecreatedEachFrame) {
  Bitmap bitmap = Bitmap::allocate(101, 60);
  QCImageToOpenCVImage bridge("toCV");
  bridge.inputImage.setImageValue(std::make_shared<QCImage>(bitmap, QCRect{3.0, 4.0, 100.5, 60.0}));
  for (int frame = 0; frame < 2; ++frame) {
    const test::Published before(bridge.outputImage);
    ASSERT_TRUE(execute(bridge));
    EXPECT_EQ(before.allocatedSince(), 1u) << "frame " << frame;
    ASSERT_NE(imageValue(bridge.outputImage), nullptr);
    EXPECT_EQ(imageValue(bridge.outputImage)->size(), cv::Size(100, 60));
  }
}

TEST(QCImageToOpenCVImage, NoImageOrAnInfiniteImageGivesNilAndReleasesTheBuffer) {
  const auto picture = test::hostImage(test::bgraPicture("fruits.jpg"));
  QCImageToOpenCVImage bridge("toCV");
  for (const auto& absent : {std::shared_ptr<QCImage>(), QCImage::infinite()}) {
    test::expectReleases(
        bridge, bridge.outputImage, [&] { bridge.inputImage.setImageValue(picture); },
        [&] { bridge.inputImage.setImageValue(absent); });
  }
}

TEST(OpenCVImageToQCImage, ConvertsOneThreeAndFourChannelsByteExact) {
  cv::Mat bgra = test::bgraPicture("fruits.jpg"), bgr, gray;
  cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
  cv::cvtColor(bgra, gray, cv::COLOR_BGRA2GRAY);
  cv::Mat twoChannels(40, 30, CV_8UC2, cv::Scalar(1, 2));
  OpenCVImageToQCImage toHost("toHost");
  toHost.enable(test::context());
  for (auto [input, code] : {std::pair<cv::Mat*, int>{&gray, cv::COLOR_GRAY2BGRA},
                             {&bgr, cv::COLOR_BGR2BGRA},
                             {&bgra, -1}}) {
    test::feed(toHost.inputImage, *input);
    ASSERT_TRUE(execute(toHost));
    const std::shared_ptr<QCImage>& image = toHost.outputImage.imageValue();
    ASSERT_NE(image, nullptr);
    cv::Mat expected = *input, upright;
    if (code >= 0) cv::cvtColor(*input, expected, code);
    // Row 0 of the OpenCV image is the pixel buffer's first memory row, i.e. the bottom row.
    EXPECT_TRUE(test::sameBytes(test::pixelBufferOf(*image), expected)) << input->channels();
    cv::flip(expected, upright, 0);
    EXPECT_TRUE(test::sameBytes(test::bitmapOf(*image), upright));
    const StructureMember* flag = image->metadataForKey("disableColorMatching");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(std::get<bool>(*flag), true);
    EXPECT_FALSE(image->forwardsMetadata("disableColorMatching"));
    EXPECT_EQ(image->pixelBuffer()->colorSpace()->name(), kColorSpaceGenericRGB);
  }
  // Channel counts it cannot convert never publish unwritten pixels.
  test::feed(toHost.inputImage, twoChannels);
  ASSERT_TRUE(execute(toHost));
  EXPECT_EQ(toHost.outputImage.imageValue(), nullptr);
}

}  // namespace
}  // namespace cvcomp
