
#include <opencv2/imgcodecs.hpp>

#include "TestSupport.hpp"
#include "host/patches/ImageSource.hpp"
#include "host/patches/Overlay.hpp"
#include "host/patches/Pulse.hpp"

namespace cvcomp {
namespace {

TEST(Pulse, FiresOnListedFramesAndEveryPeriod) {
  Pulse pulse("p");
  pulse.inputFrames.setStringValue("0, 3,x,7");
  pulse.inputPeriod.setIndexValue(5);
  std::vector<std::uint64_t> fired;
  EXPECT_NE(test::stderrOf([&] {
              for (std::uint64_t frame = 0; frame < 12; ++frame) {
                QCStructure arguments;
                arguments.addMember(QCNumber::withDouble(static_cast<double>(frame)), "frame");
                ASSERT_TRUE(pulse.execute(test::context(), 0.0, arguments));
                if (pulse.outputSignal.booleanValue()) fired.push_back(frame);
              }
            }).find("ignoring \"x\""),
            std::string::npos);
  EXPECT_EQ(fired, (std::vector<std::uint64_t>{0, 3, 5, 7, 10}));
}

TEST(ImageSource, ReadsAFolderOfPicturesInNameOrder) {
  const test::TempFolder folder;
  cv::imwrite((folder / "b.png").string(), cv::Mat(50, 20, CV_8UC3, cv::Scalar(200, 100, 0)));
  cv::imwrite((folder / "a.png").string(), cv::Mat(30, 40, CV_8UC3, cv::Scalar(10, 20, 30)));
  folder.write("notes.txt", "not a picture");
  folder.write("c.png", "broken");
  ImageSource source("src");
  source.inputPath.setStringValue(folder.path().string());
  std::vector<cv::Mat> pictures;
  EXPECT_NE(test::stderrOf([&] {
              for (int frame = 0; frame < 4 && !source.finished(); ++frame) {
                ASSERT_TRUE(test::execute(source));
                const auto& image = source.outputImage.imageValue();
                if (image) pictures.push_back(test::bitmapOf(*image));
              }
            }).find("skipping"),
            std::string::npos);
  ASSERT_EQ(pictures.size(), 2u);
  EXPECT_EQ(pictures[0].size(), cv::Size(40, 30));
  EXPECT_EQ(pictures[0].at<cv::Vec4b>(0, 0), cv::Vec4b(10, 20, 30, 255));
  EXPECT_EQ(pictures[1].size(), cv::Size(20, 50));
  EXPECT_TRUE(source.finished());
  EXPECT_TRUE(source.failure().empty());
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
  Overlay overlay("draw");
  overlay.inputImage.setImageValue(
      test::hostImage(cv::Mat(200, 400, CV_8UC4, cv::Scalar(0, 0, 0, 255))));
  auto structure = std::make_shared<QCStructure>();
  // Near the top-left corner: X −0.9, Y +0.4 (the top edge is at +h/w = 0.5); a rectangle.
  for (const auto& [key, members] :
       {std::pair<std::string, std::vector<std::pair<std::string, float>>>{
            "Point0000", {{"X", -0.9f}, {"Y", 0.4f}}},
        {"Object0000", {{"X", 0.5f}, {"Y", -0.25f}, {"W", 0.2f}, {"H", 0.4f}}}}) {
    auto member = std::make_shared<QCStructure>();
    for (const auto& [name, value] : members) member->addMember(QCNumber::withFloat(value), name);
    structure->addMember(member, key);
  }
  overlay.inputStructure.setStructureValue(structure);
  ASSERT_TRUE(test::execute(overlay));

  cv::Mat changed;
  cv::cvtColor(test::bitmapOf(*overlay.outputImage.imageValue()), changed, cv::COLOR_BGRA2GRAY);
  // The point is drawn around (20, 20); the rectangle spans x 280..320 and y 130..170.
  EXPECT_GT(cv::countNonZero(changed(cv::Rect(10, 10, 20, 20))), 0);
  EXPECT_EQ(cv::countNonZero(changed(cv::Rect(10, 170, 20, 20))), 0);
  EXPECT_GT(changed.at<uchar>(150, 280), 0);
  EXPECT_GT(changed.at<uchar>(130, 300), 0);
  EXPECT_EQ(changed.at<uchar>(150, 300), 0);
}

}  // namespace
}  // namespace cvcomp
