#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVHoughLines2.hpp"
#include "host/QCObjectPorts.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

using test::execute;

// The Canny edge map of a sample picture's gray version.
cv::Mat edgesOf(const std::string& name) {
  cv::Mat gray, edges;
  cv::cvtColor(test::samplePicture(name), gray, cv::COLOR_BGR2GRAY);
  cv::Canny(gray, edges, 50.0, 150.0, 3);
  return edges;
}

// What the patch must publish for `segments` of a w × h image: centred unit coordinates in
// single precision, X = (x − w/2) / (w/2), Y = ((y − h/2) / (h/2)) · h / w.
std::vector<std::vector<double>> expectedLines(const std::vector<cv::Vec4i>& segments,
                                               cv::Size size) {
  const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
  auto X = [&](int x) { return static_cast<double>((x + w * -0.5f) / (w * 0.5f)); };
  auto Y = [&](int y) { return static_cast<double>((((y + h * -0.5f) / (h * 0.5f)) * h) / w); };
  std::vector<std::vector<double>> lines;
  for (const cv::Vec4i& s : segments) lines.push_back({X(s[0]), Y(s[1]), X(s[2]), Y(s[3])});
  return lines;
}

// The published structure read back, one row per member, checking each key and that each member
// holds "X1", "Y1", "X2", "Y2" in this order as double-precision numbers.
std::vector<std::vector<double>> publishedLines(const OpenCVHoughLines2& hough) {
  static const QCStructure none;
  std::vector<std::vector<double>> lines;
  const QCStructure* structure = hough.outputLines.structureValue().get();
  if (!structure) ADD_FAILURE() << "no structure published";
  for (const auto& [key, member] : (structure ? *structure : none).members()) {
    EXPECT_EQ(key, numberedKey("Line", lines.size()));
    const auto* line = std::get_if<std::shared_ptr<QCStructure>>(&member);
    std::string names;
    std::vector<double> values;
    for (const auto& [name, value] : (line ? **line : none).members()) {
      const auto* number = std::get_if<QCNumber>(&value);
      EXPECT_TRUE(number && !number->single) << key << "." << name;
      names += name;
      values.push_back(number ? number->value : 99.0);
    }
    EXPECT_EQ(names, "X1Y1X2Y2") << key;
    lines.push_back(values);
  }
  return lines;
}

TEST(OpenCVHoughLines2, AFreshPatchFindsTheSegmentsOfADirectTransform) {
  cv::Mat edges = edgesOf("sudoku.png");
  OpenCVHoughLines2 hough("hough");
  EXPECT_EQ(hough.inputRho.doubleValue(), 1.0);
  test::feed(hough.inputImage, edges);
  ASSERT_TRUE(execute(hough));

  std::vector<cv::Vec4i> direct;
  cv::HoughLinesP(edges, direct, 1.0f, static_cast<float>(0.017453292519943295), 25, 50.0f, 15.0f);
  ASSERT_GT(direct.size(), 10u);
  EXPECT_EQ(publishedLines(hough), expectedLines(direct, edges.size()));
}

TEST(OpenCVHoughLines2, PassesItsPortsAtSinglePrecisionAndThresholdZeroAsOne) {
  cv::Mat edges = edgesOf("building.jpg");
  OpenCVHoughLines2 hough("hough");
  test::feed(hough.inputImage, edges);
  hough.inputRho.setDoubleValue(2.0);
  hough.inputTheta.setDoubleValue(0.5);
  hough.inputMinLength.setDoubleValue(30.0);
  hough.inputMaxGap.setDoubleValue(5.0);
  for (std::size_t threshold : {0u, 40u}) {
    hough.inputThreshold.setIndexValue(threshold);
    ASSERT_TRUE(execute(hough));
    std::vector<cv::Vec4i> direct;
    cv::HoughLinesP(edges, direct, 2.0f, static_cast<float>(0.5 * 0.017453292519943295),
                    threshold == 0 ? 1 : static_cast<int>(threshold), 30.0f, 5.0f);
    ASSERT_FALSE(direct.empty());
    EXPECT_EQ(publishedLines(hough), expectedLines(direct, edges.size())) << threshold;
  }
}

TEST(OpenCVHoughLines2, EndPointsInCentredUnitsOfA200By100Image) {
  cv::Mat picture(100, 200, CV_8UC1, cv::Scalar(0));
  cv::Mat empty = picture.clone();
  cv::line(picture, {50, 25}, {150, 25}, 255);
  cv::line(picture, {100, 50}, {100, 75}, 255);
  OpenCVHoughLines2 hough("hough");
  hough.inputMinLength.setDoubleValue(20.0);

  test::feed(hough.inputImage, empty);
  ASSERT_TRUE(execute(hough));
  ASSERT_NE(hough.outputLines.structureValue(), nullptr);
  EXPECT_EQ(hough.outputLines.structureValue()->count(), 0u);

  test::feed(hough.inputImage, picture);
  ASSERT_TRUE(execute(hough));
  const QCStructure& lines = *hough.outputLines.structureValue();
  ASSERT_EQ(lines.count(), 2u);
  EXPECT_EQ(lines.members()[0].first, "Line0000");
  EXPECT_EQ(lines.members()[1].first, "Line0001");
  std::vector<std::vector<double>> found = publishedLines(hough);
  std::sort(found.begin(), found.end());
  // Column 50, row 25 is (−0.5, −0.25); column 100, row 50 is the centre.
  const std::vector<std::vector<double>> expected{{-0.5, -0.25, 0.5, -0.25}, {0.0, 0.25, 0.0, 0.0}};
  EXPECT_EQ(found, expected);
}

// A downstream patch with a structure input: it counts the members it receives.
class LineCounter final : public QCPatch {
 public:
  QC_PATCH_CLASS(LineCounter)
  using QCPatch::QCPatch;
  bool execute(QCContext&, double, const QCStructure&) override {
    const auto& lines = inputStructure.structureValue();
    counted = lines ? static_cast<int>(lines->count()) : -1;
    return true;
  }
  QC_PORT(QCStructurePort, inputStructure);
  int counted = -2;
};

TEST(OpenCVHoughLines2, PublishesTheSameStructureEveryFrameAndNilForColour) {
  cv::Mat edges = edgesOf("sudoku.png");
  cv::Mat blank(edges.size(), CV_8UC1, cv::Scalar(0));
  cv::Mat colour(edges.size(), CV_8UC3, cv::Scalar(255, 255, 255));
  OpenCVHoughLines2 hough("hough");
  LineCounter counter("counter");
  // One frame: the output's new value travels over the connection and the counter runs.
  std::uint64_t seen = hough.outputLines.stamp();
  auto frame = [&](cv::Mat& image) {
    counter.counted = -2;
    test::feed(hough.inputImage, image);
    EXPECT_TRUE(execute(hough));
    if (hough.outputLines.stamp() != seen) {
      seen = hough.outputLines.stamp();
      counter.inputStructure.setGenericValue(hough.outputLines.genericValue());
      execute(counter);
    }
    return hough.outputLines.structureValue();
  };

  const auto first = frame(edges);
  ASSERT_NE(first, nullptr);
  const int found = counter.counted;
  EXPECT_GT(found, 10);
  EXPECT_EQ(frame(blank), first);
  EXPECT_EQ(counter.counted, 0);
  EXPECT_EQ(frame(colour), nullptr);
  EXPECT_EQ(counter.counted, -1);
  EXPECT_EQ(frame(edges), first);
  EXPECT_EQ(counter.counted, found);
  EXPECT_EQ(frame(edges), first);
  EXPECT_EQ(counter.counted, found);
}

TEST(OpenCVHoughLines2, ARefusedImageGivesAnEmptyStructure) {
  cv::Mat edges = edgesOf("sudoku.png");
  cv::Mat deep(edges.size(), CV_16UC1, cv::Scalar(0));
  OpenCVHoughLines2 hough("hough");
  test::feed(hough.inputImage, edges);
  ASSERT_TRUE(execute(hough));
  ASSERT_GT(hough.outputLines.structureValue()->count(), 0u);

  test::feed(hough.inputImage, deep);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(execute(hough));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("OpenCVHoughLines2: OpenCV("),
            std::string::npos);
  ASSERT_NE(hough.outputLines.structureValue(), nullptr);
  EXPECT_EQ(hough.outputLines.structureValue()->count(), 0u);
}

}  // namespace
}  // namespace cvcomp
