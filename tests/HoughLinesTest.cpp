
#include <algorithm>

#include "TestSupport.hpp"
#include "features/OpenCVHoughLines2.hpp"

namespace cvcomp {
namespace {

using test::execute;

// The Canny edge map of a sample picture's gray version.
cv::Mat edgesOf(const std::string& name) {
  cv::Mat edges;
  cv::Canny(test::grayPicture(name), edges, 50.0, 150.0, 3);
  return edges;
}

// The published structure read back, one row per member, checking each key and that each member
// holds "X1", "Y1", "X2", "Y2" in this order as double-precision numbers.
std::vector<std::vector<double>> publishedLines(const OpenCVHoughLines2& hough) {
  static const QCStructure none;
  std::vector<std::vector<double>> lines;
  const QCStructure* structure = hough.outputLines.structureValue().get();
  EXPECT_NE(structure, nullptr);
  for (const auto& [key, member] : (structure ? *structure : none).members()) {
    EXPECT_EQ(key, numberedKey("Line", lines.size()));
    const QCStructure& line = *std::get<std::shared_ptr<QCStructure>>(member);
    std::string names;
    lines.emplace_back();
    for (const auto& [name, value] : line.members()) {
      EXPECT_FALSE(std::get<QCNumber>(value).single) << key << "." << name;
      names += name;
      lines.back().push_back(std::get<QCNumber>(value).value);
    }
    EXPECT_EQ(names, "X1Y1X2Y2") << key;
  }
  return lines;
}

// What the patch must publish for the segments of a direct transform of `edges`.
std::vector<std::vector<double>> directLines(const cv::Mat& edges, float rho, double degrees,
                                             int threshold, float length, float gap) {
  std::vector<cv::Vec4i> segments;
  cv::HoughLinesP(edges, segments, rho, static_cast<float>(degrees * 0.017453292519943295),
                  threshold, length, gap);
  EXPECT_GT(segments.size(), 5u);
  std::vector<std::vector<double>> lines;
  for (const cv::Vec4i& s : segments) {
    const cv::Point2f a = test::unitOf(cv::Point2f(s[0], s[1]), edges.size());
    const cv::Point2f b = test::unitOf(cv::Point2f(s[2], s[3]), edges.size());
    lines.push_back({a.x, a.y, b.x, b.y});
  }
  return lines;
}

TEST(OpenCVHoughLines2, EqualsADirectTransformFromAFreshPatchOn) {
  cv::Mat sudoku = edgesOf("sudoku.png"), building = edgesOf("building.jpg");
  OpenCVHoughLines2 hough("hough");
  EXPECT_EQ(hough.inputRho.doubleValue(), 1.0);
  test::feed(hough.inputImage, sudoku);
  ASSERT_TRUE(execute(hough));
  EXPECT_EQ(publishedLines(hough), directLines(sudoku, 1.0f, 1.0, 25, 50.0f, 15.0f));

  // The ports at single precision; threshold 0 counts as 1.
  test::feed(hough.inputImage, building);
  hough.inputRho.setDoubleValue(2.0);
  hough.inputTheta.setDoubleValue(0.5);
  hough.inputMinLength.setDoubleValue(30.0);
  hough.inputMaxGap.setDoubleValue(5.0);
  for (std::size_t threshold : {0u, 40u}) {
    hough.inputThreshold.setIndexValue(threshold);
    ASSERT_TRUE(execute(hough));
    EXPECT_EQ(publishedLines(hough),
              directLines(building, 2.0f, 0.5, std::max<int>(1, static_cast<int>(threshold)), 30.0f,
                          5.0f));
  }
}

TEST(OpenCVHoughLines2, RefillsOneStructureEveryFrame) {
  cv::Mat picture(100, 200, CV_8UC1, cv::Scalar(0)), empty = picture.clone();
  cv::line(picture, {50, 25}, {150, 25}, 255);
  cv::line(picture, {100, 50}, {100, 75}, 255);
  cv::Mat colour(picture.size(), CV_8UC3, cv::Scalar::all(255));
  cv::Mat deep(picture.size(), CV_16UC1, cv::Scalar(0));
  OpenCVHoughLines2 hough("hough");
  hough.inputMinLength.setDoubleValue(20.0);
  // Each frame sets the output anew (so that it reaches downstream patches), with the same
  // structure object refilled: first empty, then exactly two lines. Column 50, row 25 is
  // (−0.5, −0.25); column 100, row 50 is the centre.
  std::shared_ptr<QCStructure> first;
  for (cv::Mat* image : {&empty, &picture, &picture}) {
    const std::uint64_t stamp = hough.outputLines.stamp();
    test::feed(hough.inputImage, *image);
    ASSERT_TRUE(execute(hough));
    EXPECT_GT(hough.outputLines.stamp(), stamp);
    if (!first) first = hough.outputLines.structureValue();
    ASSERT_EQ(hough.outputLines.structureValue(), first);
    std::vector<std::vector<double>> found = publishedLines(hough);
    std::sort(found.begin(), found.end());
    using Lines = std::vector<std::vector<double>>;
    const Lines two{{-0.5, -0.25, 0.5, -0.25}, {0.0, 0.25, 0.0, 0.0}};
    EXPECT_EQ(found, image == &empty ? Lines{} : two);
  }
  // Colour input gives nil; an image the detector refuses, its report and an empty structure.
  test::feed(hough.inputImage, colour);
  ASSERT_TRUE(execute(hough));
  EXPECT_EQ(hough.outputLines.structureValue(), nullptr);
  test::feed(hough.inputImage, deep);
  EXPECT_NE(test::stderrOf([&] { EXPECT_TRUE(execute(hough)); }).find("OpenCVHoughLines2: OpenCV("),
            std::string::npos);
  EXPECT_EQ(publishedLines(hough), std::vector<std::vector<double>>{});
  EXPECT_EQ(hough.outputLines.structureValue(), first);
}

}  // namespace
}  // namespace cvcomp
