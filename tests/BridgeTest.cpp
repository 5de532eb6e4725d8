#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "bridge/OpenCVImageToQCImage.hpp"
#include "bridge/QCImageToOpenCVImage.hpp"
#include "plugin/ImageBuffer.hpp"

namespace cvcomp {
namespace {

using test::execute;

// A real photo with a distinct fourth channel, so that a lost or reordered channel shows.
cv::Mat photoBGRA() {
  const cv::Mat bgr = test::samplePicture("fruits.jpg");
  cv::Mat gray, bgra;
  cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
  cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
  cv::Mat inverted = 255 - gray;
  cv::mixChannels(&inverted, 1, &bgra, 1, std::array<int, 2>{0, 3}.data(), 1);
  return bgra;
}

const cv::Mat* output(const OpenCVTypePort& port) {
  return imageValue(port);
}

TEST(QCImageToOpenCVImage, EachFlipModeCopiesTheBitmapAsCvFlipWould) {
  const cv::Mat bgra = photoBGRA();
  QCImageToOpenCVImage bridge("toCV");
  bridge.inputImage.setImageValue(test::hostImage(bgra));

  const std::array<std::pair<std::size_t, int>, 3> flips{{{0, 0}, {1, -1}, {3, 1}}};
  for (auto [mode, code] : flips) {
    bridge.inputFlip.setIndexValue(mode);
    ASSERT_TRUE(execute(bridge));
    cv::Mat expected;
    cv::flip(bgra, expected, code);
    ASSERT_NE(output(bridge.outputImage), nullptr);
    EXPECT_TRUE(test::sameBytes(*output(bridge.outputImage), expected)) << "mode " << mode;
  }
  bridge.inputFlip.setIndexValue(2);
  ASSERT_TRUE(execute(bridge));
  EXPECT_TRUE(test::sameBytes(*output(bridge.outputImage), bgra));
  EXPECT_EQ(output(bridge.outputImage)->type(), CV_8UC4);
}

TEST(QCImageToOpenCVImage, IgnoresBytesBeyondEachBitmapRow) {
  const cv::Mat bgra = photoBGRA()(cv::Rect(0, 0, 64, 48)).clone();
  Bitmap padded{std::shared_ptr<std::uint8_t[]>(new std::uint8_t[(64 * 4 + 20) * 48]), 64, 48,
                64 * 4 + 20};
  std::memset(padded.data.get(), 0xAB, (64 * 4 + 20) * 48);
  bgra.copyTo(cv::Mat(48, 64, CV_8UC4, padded.data.get(), padded.bytesPerRow));

  QCImageToOpenCVImage bridge("toCV");
  bridge.inputFlip.setIndexValue(2);
  bridge.inputImage.setImageValue(std::make_shared<QCImage>(padded));
  ASSERT_TRUE(execute(bridge));
  EXPECT_TRUE(test::sameBytes(*output(bridge.outputImage), bgra));
}

TEST(QCImageToOpenCVImage, ReusesItsBufferUntilTheSizeChanges) {
  const cv::Mat bgra = photoBGRA();
  QCImageToOpenCVImage bridge("toCV");
  bridge.inputImage.setImageValue(test::hostImage(bgra));
  ASSERT_TRUE(execute(bridge));
  const auto firstBox = bridge.outputImage.cvObjectValue();
  const uchar* firstData = output(bridge.outputImage)->data;

  const auto before = ImageBuffer::allocationCount();
  bridge.inputImage.setImageValue(test::hostImage(bgra));
  ASSERT_TRUE(execute(bridge));
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  EXPECT_EQ(output(bridge.outputImage)->data, firstData);
  EXPECT_NE(bridge.outputImage.cvObjectValue(), firstBox);

  bridge.inputImage.setImageValue(test::hostImage(bgra(cv::Rect(0, 0, 320, 200))));
  ASSERT_TRUE(execute(bridge));
  EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
  EXPECT_EQ(output(bridge.outputImage)->size(), cv::Size(320, 200));
}

TEST(QCImageToOpenCVImage, FractionalBoundsTruncateAndAreRecreatedEachFrame) {
  const cv::Mat bgra = photoBGRA()(cv::Rect(0, 0, 101, 60)).clone();
  Bitmap bitmap = Bitmap::allocate(101, 60);
  bgra.copyTo(cv::Mat(60, 101, CV_8UC4, bitmap.data.get(), bitmap.bytesPerRow));
  QCImageToOpenCVImage bridge("toCV");
  bridge.inputImage.setImageValue(std::make_shared<QCImage>(bitmap, QCRect{3.0, 4.0, 100.5, 60.0}));

  for (int frame = 0; frame < 2; ++frame) {
    const auto before = ImageBuffer::allocationCount();
    ASSERT_TRUE(execute(bridge));
    EXPECT_EQ(ImageBuffer::allocationCount(), before + 1) << "frame " << frame;
    ASSERT_NE(output(bridge.outputImage), nullptr);
    EXPECT_EQ(output(bridge.outputImage)->size(), cv::Size(100, 60));
  }
}

TEST(QCImageToOpenCVImage, NoImageOrAnInfiniteImageGivesNilAndReleasesTheBuffer) {
  const cv::Mat bgra = photoBGRA();
  QCImageToOpenCVImage bridge("toCV");
  for (const auto& absent : {std::shared_ptr<QCImage>(), QCImage::infinite()}) {
    bridge.inputImage.setImageValue(test::hostImage(bgra));
    ASSERT_TRUE(execute(bridge));
    ASSERT_NE(bridge.outputImage.cvObjectValue(), nullptr);

    bridge.inputImage.setImageValue(absent);
    ASSERT_TRUE(execute(bridge));
    EXPECT_EQ(bridge.outputImage.cvObjectValue(), nullptr);

    // The buffer was released: the same size again needs a new one.
    const auto before = ImageBuffer::allocationCount();
    bridge.inputImage.setImageValue(test::hostImage(bgra));
    ASSERT_TRUE(execute(bridge));
    EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
  }
}

TEST(OpenCVImageToQCImage, ConvertsOneThreeAndFourChannelsByteExact) {
  const cv::Mat bgra = photoBGRA();
  cv::Mat bgr, gray;
  cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
  cv::cvtColor(bgra, gray, cv::COLOR_BGRA2GRAY);

  OpenCVImageToQCImage toHost("toHost");
  toHost.enable(test::context());
  for (cv::Mat* input : {&gray, &bgr, const_cast<cv::Mat*>(&bgra)}) {
    test::feed(toHost.inputImage, *input);
    ASSERT_TRUE(execute(toHost));
    const std::shared_ptr<QCImage>& image = toHost.outputImage.imageValue();
    ASSERT_NE(image, nullptr);
    cv::Mat expected = *input;
    if (input->channels() == 1) cv::cvtColor(*input, expected, cv::COLOR_GRAY2BGRA);
    if (input->channels() == 3) cv::cvtColor(*input, expected, cv::COLOR_BGR2BGRA);
    // Row 0 of the OpenCV image is the pixel buffer's first memory row, i.e. the bottom row.
    EXPECT_TRUE(test::sameBytes(test::pixelBufferOf(*image), expected)) << input->channels();
    cv::Mat upright;
    cv::flip(expected, upright, 0);
    EXPECT_TRUE(test::sameBytes(test::bitmapOf(*image), upright));

    const StructureMember* flag = image->metadataForKey("disableColorMatching");
    ASSERT_NE(flag, nullptr);
    EXPECT_EQ(std::get<bool>(*flag), true);
    EXPECT_FALSE(image->forwardsMetadata("disableColorMatching"));
    EXPECT_EQ(image->pixelBuffer()->colorSpace()->name(), kColorSpaceGenericRGB);
  }
  toHost.disable(test::context());
}

TEST(OpenCVImageToQCImage, KeepsItsConversionBufferWhileTheInputIsAbsent) {
  cv::Mat gray(120, 160, CV_8UC1, cv::Scalar(77));
  OpenCVImageToQCImage toHost("toHost");
  toHost.enable(test::context());
  test::feed(toHost.inputImage, gray);
  ASSERT_TRUE(execute(toHost));
  const auto before = ImageBuffer::allocationCount();

  toHost.inputImage.setCvObjectValue(nullptr);
  ASSERT_TRUE(execute(toHost));
  EXPECT_EQ(toHost.outputImage.imageValue(), nullptr);

  test::feed(toHost.inputImage, gray);
  ASSERT_TRUE(execute(toHost));
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  const cv::Mat pixels = test::pixelBufferOf(*toHost.outputImage.imageValue());
  EXPECT_EQ(pixels.at<cv::Vec4b>(5, 7), cv::Vec4b(77, 77, 77, 255));

  cv::Mat larger(130, 160, CV_8UC1, cv::Scalar(1));
  test::feed(toHost.inputImage, larger);
  ASSERT_TRUE(execute(toHost));
  EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
}

TEST(OpenCVImageToQCImage, UnconvertibleChannelCountsNeverPublishUnwrittenPixels) {
  cv::Mat twoChannels(40, 30, CV_8UC2, cv::Scalar(1, 2));
  OpenCVImageToQCImage toHost("toHost");
  toHost.enable(test::context());
  test::feed(toHost.inputImage, twoChannels);
  ASSERT_TRUE(execute(toHost));
  EXPECT_EQ(toHost.outputImage.imageValue(), nullptr);
}

TEST(ImageBridge, RoundTripDisplaysUpright) {
  const cv::Mat bgra = photoBGRA();
  QCImageToOpenCVImage toCV("toCV");
  OpenCVImageToQCImage toHost("toHost");
  toHost.enable(test::context());
  toCV.inputImage.setImageValue(test::hostImage(bgra));
  ASSERT_TRUE(execute(toCV));
  toHost.inputImage.setCvObjectValue(toCV.outputImage.cvObjectValue());
  ASSERT_TRUE(execute(toHost));
  EXPECT_TRUE(test::sameBytes(test::bitmapOf(*toHost.outputImage.imageValue()), bgra));
}

}  // namespace
}  // namespace cvcomp
