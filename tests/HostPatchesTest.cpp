#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "host/patches/ImageSource.hpp"
#include "host/patches/Overlay.hpp"
#include "host/patches/Pulse.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;

QCStructure frameArguments(std::uint64_t frame) {
  QCStructure arguments;
  arguments.addMember(QCNumber::withDouble(static_cast<double>(frame)), "frame");
  return arguments;
}

TEST(Pulse, FiresOnListedFramesAndEveryPeriod) {
  Pulse pulse("p");
  pulse.inputFrames.setStringValue("0, 3,x,7");
  pulse.inputPeriod.setIndexValue(5);
  std::vector<std::uint64_t> fired;
  testing::internal::CaptureStderr();
  for (std::uint64_t frame = 0; frame < 12; ++frame) {
    ASSERT_TRUE(pulse.execute(test::context(), 0.0, frameArguments(frame)));
    if (pulse.outputSignal.booleanValue()) fired.push_back(frame);
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find("ignoring \"x\""), std::string::npos);
  EXPECT_EQ(fired, (std::vector<std::uint64_t>{0, 3, 5, 7, 10}));
}

TEST(ImageSource, ReadsAFolderOfPicturesInNameOrder) {
  const fs::path folder = test::scratch("folder-test");
  fs::create_directories(folder);
  const cv::Mat first(30, 40, CV_8UC3, cv::Scalar(10, 20, 30));
  const cv::Mat second(50, 20, CV_8UC3, cv::Scalar(200, 100, 0));
  cv::imwrite((folder / "b.png").string(), second);
  cv::imwrite((folder / "a.png").string(), first);
  std::ofstream(folder / "notes.txt") << "not a picture";
  std::ofstream(folder / "c.png") << "broken";

  ImageSource source("src");
  source.inputPath.setStringValue(folder.string());
  std::vector<cv::Size> sizes;
  testing::internal::CaptureStderr();
  for (int frame = 0; frame < 4 && !source.finished(); ++frame) {
    ASSERT_TRUE(test::execute(source));
    if (const auto& image = source.outputImage.imageValue()) {
      const cv::Mat bitmap = test::bitmapOf(*image);
      sizes.push_back(bitmap.size());
      if (sizes.size() == 1) {
        EXPECT_EQ(bitmap.at<cv::Vec4b>(0, 0), cv::Vec4b(10, 20, 30, 255));
      }
    }
  }
  EXPECT_NE(testing::internal::GetCapturedStderr().find("skipping"), std::string::npos);
  EXPECT_EQ(sizes, (std::vector<cv::Size>{{40, 30}, {20, 50}}));
  EXPECT_TRUE(source.finished());
  EXPECT_TRUE(source.failure().empty());
  fs::remove_all(folder);
}

TEST(ImageSource, ReadsEveryFrameOfAVideo) {
  ImageSource source("src");
  source.inputPath.setStringValue(test::sample("Megamind.avi").string());
  int frames = 0;
  while (test::execute(source) && !source.finished()) ++frames;
  EXPECT_EQ(frames, 270);
  EXPECT_NEAR(source.framesPerSecond(), 23.98, 0.1);
}

TEST(ImageSource, ReportsWhatCannotBeOpened) {
  ImageSource source("src");
  for (const std::string path :
       {"/nonexistent/clip.avi", "pattern:0x10", "pattern:big", "camera:97", ""}) {
    source.inputPath.setStringValue(path);
    EXPECT_TRUE(test::execute(source));
    EXPECT_FALSE(source.failure().empty()) << path;
    EXPECT_EQ(source.outputImage.imageValue(), nullptr);
  }
  source.inputPath.setStringValue("pattern:64x48");
  ASSERT_TRUE(test::execute(source));
  EXPECT_TRUE(source.failure().empty());
  EXPECT_EQ(test::bitmapOf(*source.outputImage.imageValue()).size(), cv::Size(64, 48));
}

TEST(Overlay, DrawsAtCentredYUpCoordinates) {
  const cv::Mat black(200, 400, CV_8UC4, cv::Scalar(0, 0, 0, 255));
  Overlay overlay("draw");
  overlay.inputImage.setImageValue(test::hostImage(black));
  auto structure = std::make_shared<QCStructure>();
  auto point = std::make_shared<QCStructure>();
  // Near the top-left corner: X −0.9, Y +0.4 (the top edge is at +h/w = 0.5).
  point->addMember(QCNumber::withFloat(-0.9f), "X");
  point->addMember(QCNumber::withFloat(0.4f), "Y");
  structure->addMember(point, "Point0000");
  auto rect = std::make_shared<QCStructure>();
  for (auto [key, value] : {std::pair{"X", 0.5f}, {"Y", -0.25f}, {"W", 0.2f}, {"H", 0.4f}}) {
    rect->addMember(QCNumber::withFloat(value), key);
  }
  structure->addMember(rect, "Object0000");
  overlay.inputStructure.setStructureValue(structure);
  ASSERT_TRUE(test::execute(overlay));

  const cv::Mat drawn = test::bitmapOf(*overlay.outputImage.imageValue());
  cv::Mat changed;
  cv::cvtColor(drawn, changed, cv::COLOR_BGRA2GRAY);
  // The point is drawn around (20, 20); the rectangle spans x 280..320 and y 130..170.
  EXPECT_GT(cv::countNonZero(changed(cv::Rect(10, 10, 20, 20))), 0);
  EXPECT_EQ(cv::countNonZero(changed(cv::Rect(10, 170, 20, 20))), 0);
  EXPECT_GT(changed.at<uchar>(150, 280), 0);
  EXPECT_GT(changed.at<uchar>(130, 300), 0);
  EXPECT_EQ(changed.at<uchar>(150, 300), 0);
}

}  // namespace
}  // namespace cvcomp
