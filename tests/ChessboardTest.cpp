#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVFindChessboardCorners.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

using test::execute;

std::vector<cv::Point2f> detect(const cv::Mat& image, cv::Size pattern, int flags) {
  std::vector<cv::Point2f> corners;
  cv::findChessboardCorners(image, pattern, corners, flags);
  return corners;
}

// The published corners equal `expected`, converted to centred unit coordinates in single
// precision and stored as double-precision numbers.
void expectCorners(const OpenCVFindChessboardCorners& patch,
                   const std::vector<cv::Point2f>& expected, cv::Size imageSize) {
  const auto& structure = patch.outputCorners.structureValue();
  ASSERT_NE(structure, nullptr);
  ASSERT_EQ(structure->count(), expected.size());
  EXPECT_EQ(patch.outputCornerCount.indexValue(), expected.size());
  const float w = static_cast<float>(imageSize.width);
  const float h = static_cast<float>(imageSize.height);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string key = numberedKey("Corner", i);
    EXPECT_EQ(structure->members()[i].first, key);
    const QCStructure* corner = structure->structureForKey(key);
    ASSERT_NE(corner, nullptr) << key;
    ASSERT_EQ(corner->count(), 2u);
    EXPECT_EQ(corner->members()[0].first, "X");
    const float x = (expected[i].x + w * -0.5f) / (w * 0.5f);
    const float y = (((expected[i].y + h * -0.5f) / (h * 0.5f)) * h) / w;
    EXPECT_EQ(*corner->numberForKey("X"), QCNumber::withDouble(x)) << key;
    EXPECT_EQ(*corner->numberForKey("Y"), QCNumber::withDouble(y)) << key;
  }
}

void searchFor(OpenCVFindChessboardCorners& patch, std::size_t rows, std::size_t columns) {
  patch.inputInnerRows.setIndexValue(rows);
  patch.inputInnerColumns.setIndexValue(columns);
  patch.inputFind.setBooleanValue(true);
}

TEST(OpenCVFindChessboardCorners, FindsEveryBoardOfTheSampleSet) {
  EXPECT_EQ(centredUnit({0.0f, 0.0f}, {640, 480}), cv::Point2f(-1.0f, -0.75f));
  // The calibration views of OpenCV's sample data, 9 × 6 inner corners each; there is no tenth.
  for (const char* name : {"left01.jpg", "left02.jpg", "left03.jpg", "left04.jpg", "left05.jpg",
                           "left06.jpg", "left07.jpg", "left08.jpg", "left09.jpg", "left11.jpg",
                           "left12.jpg", "left13.jpg", "left14.jpg"}) {
    SCOPED_TRACE(name);
    cv::Mat board = test::samplePicture(name);
    OpenCVFindChessboardCorners patch("board");
    searchFor(patch, 9, 6);
    test::feed(patch.inputImage, board);
    ASSERT_TRUE(execute(patch));
    EXPECT_EQ(patch.outputCornerCount.indexValue(), 54u);
    EXPECT_TRUE(patch.outputAllFound.booleanValue());
    expectCorners(patch, detect(board, {9, 6}, cv::CALIB_CB_ADAPTIVE_THRESH), board.size());
  }
}

TEST(OpenCVFindChessboardCorners, InnerRowsAreThePatternWidth) {
  cv::Mat board = test::samplePicture("left01.jpg");
  cv::Mat bgra;
  cv::cvtColor(board, bgra, cv::COLOR_BGR2BGRA);
  OpenCVFindChessboardCorners patch("board");
  searchFor(patch, 6, 9);
  test::feed(patch.inputImage, bgra);
  ASSERT_TRUE(execute(patch));
  const std::vector<cv::Point2f> transposed = detect(bgra, {6, 9}, cv::CALIB_CB_ADAPTIVE_THRESH);
  ASSERT_NE(transposed, detect(bgra, {9, 6}, cv::CALIB_CB_ADAPTIVE_THRESH));
  EXPECT_TRUE(patch.outputAllFound.booleanValue());
  expectCorners(patch, transposed, bgra.size());
}

TEST(OpenCVFindChessboardCorners, PartlyHiddenBoardReportsWhatTheDetectorFound) {
  cv::Mat board = test::samplePicture("left01.jpg");
  const std::vector<cv::Point2f> whole = detect(board, {9, 6}, cv::CALIB_CB_ADAPTIVE_THRESH);
  ASSERT_EQ(whole.size(), 54u);
  cv::rectangle(board, cv::Rect(cv::Point(whole[10]) - cv::Point(15, 15), cv::Size(30, 30)),
                cv::Scalar::all(255), cv::FILLED);

  OpenCVFindChessboardCorners patch("board");
  searchFor(patch, 9, 6);
  test::feed(patch.inputImage, board);
  ASSERT_TRUE(execute(patch));
  EXPECT_FALSE(patch.outputAllFound.booleanValue());
  // A structure, empty or not, is published: never nil.
  expectCorners(patch, detect(board, {9, 6}, cv::CALIB_CB_ADAPTIVE_THRESH), board.size());
}

TEST(OpenCVFindChessboardCorners, SwitchesFormTheDetectorFlags) {
  // With the right part of the view gray, only an adaptive threshold without normalisation
  // still finds this board.
  cv::Mat board = test::samplePicture("left01.jpg");
  cv::rectangle(board, cv::Rect(500, 0, 140, 480), cv::Scalar::all(128), cv::FILLED);
  ASSERT_EQ(detect(board, {9, 6}, cv::CALIB_CB_ADAPTIVE_THRESH).size(), 54u);

  OpenCVFindChessboardCorners patch("board");
  searchFor(patch, 9, 6);
  test::feed(patch.inputImage, board);
  EXPECT_TRUE(patch.inputAdaptiveThreshold.booleanValue());
  ASSERT_TRUE(execute(patch));
  EXPECT_TRUE(patch.outputAllFound.booleanValue());

  patch.inputNormalize.setBooleanValue(true);
  ASSERT_TRUE(execute(patch));
  EXPECT_FALSE(patch.outputAllFound.booleanValue());

  patch.inputNormalize.setBooleanValue(false);
  patch.inputFilterQuads.setBooleanValue(true);
  ASSERT_TRUE(execute(patch));
  EXPECT_TRUE(patch.outputAllFound.booleanValue());
  expectCorners(patch,
                detect(board, {9, 6}, cv::CALIB_CB_ADAPTIVE_THRESH | cv::CALIB_CB_FILTER_QUADS),
                board.size());

  patch.inputAdaptiveThreshold.setBooleanValue(false);
  ASSERT_TRUE(execute(patch));
  EXPECT_FALSE(patch.outputAllFound.booleanValue());
}

TEST(OpenCVFindChessboardCorners, OutputsFreezeWhileTheSearchCannotRun) {
  cv::Mat board = test::samplePicture("left02.jpg");
  cv::Mat blank(480, 640, CV_8UC3, cv::Scalar::all(255));
  OpenCVFindChessboardCorners patch("board");
  patch.inputInnerRows.setIndexValue(9);
  patch.inputInnerColumns.setIndexValue(6);
  test::feed(patch.inputImage, board);

  // Find off from the start: the outputs keep their initial values.
  ASSERT_TRUE(execute(patch));
  EXPECT_EQ(patch.outputCorners.structureValue(), nullptr);
  EXPECT_EQ(patch.outputCornerCount.indexValue(), 0u);
  EXPECT_FALSE(patch.outputAllFound.booleanValue());

  patch.inputFind.setBooleanValue(true);
  ASSERT_TRUE(execute(patch));
  const auto found = patch.outputCorners.structureValue();
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(found->count(), 54u);

  // Each failed run condition leaves the last search's outputs, even with a blank view waiting.
  auto expectFrozen = [&](const char* what) {
    ASSERT_TRUE(execute(patch));
    EXPECT_EQ(patch.outputCorners.structureValue(), found) << what;
    EXPECT_EQ(patch.outputCornerCount.indexValue(), 54u) << what;
    EXPECT_TRUE(patch.outputAllFound.booleanValue()) << what;
  };
  patch.inputImage.setCvObjectValue(nullptr);
  expectFrozen("no image");
  test::feed(patch.inputImage, blank);
  patch.inputInnerRows.setIndexValue(2);
  expectFrozen("2 inner rows");
  patch.inputInnerRows.setIndexValue(9);
  patch.inputInnerColumns.setIndexValue(2);
  expectFrozen("2 inner columns");
  patch.inputInnerColumns.setIndexValue(6);
  patch.inputFind.setBooleanValue(false);
  expectFrozen("find off");

  // Level-triggered: while find stays on, every frame searches again.
  patch.inputFind.setBooleanValue(true);
  ASSERT_TRUE(execute(patch));
  ASSERT_NE(patch.outputCorners.structureValue(), found);
  EXPECT_EQ(patch.outputCorners.structureValue()->count(), 0u);
  EXPECT_FALSE(patch.outputAllFound.booleanValue());
}

TEST(OpenCVFindChessboardCorners, RefusedImageIsASearchWithoutCorners) {
  cv::Mat board = test::samplePicture("left03.jpg");
  cv::Mat twoChannels(480, 640, CV_8UC2, cv::Scalar::all(128));
  OpenCVFindChessboardCorners patch("board");
  searchFor(patch, 9, 6);
  test::feed(patch.inputImage, board);
  ASSERT_TRUE(execute(patch));
  ASSERT_TRUE(patch.outputAllFound.booleanValue());

  test::feed(patch.inputImage, twoChannels);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(execute(patch));
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("OpenCVFindChessboardCorners: OpenCV("), std::string::npos) << report;
  EXPECT_FALSE(patch.outputAllFound.booleanValue());
  expectCorners(patch, {}, twoChannels.size());
}

}  // namespace
}  // namespace cvcomp
