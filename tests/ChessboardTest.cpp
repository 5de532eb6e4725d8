
#include <opencv2/calib3d.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVFindChessboardCorners.hpp"

namespace cvcomp {
namespace {

using test::execute;

std::vector<cv::Point2f> detect(const cv::Mat& image, cv::Size pattern,
                                int flags = cv::CALIB_CB_ADAPTIVE_THRESH) {
  std::vector<cv::Point2f> corners;
  cv::findChessboardCorners(image, pattern, corners, flags);
  return corners;
}

// Runs a search for `rows` × `columns` inner corners on `image`; the outputs equal `expected`.
void expectSearch(OpenCVFindChessboardCorners& patch, cv::Mat& image, std::size_t rows,
                  std::size_t columns, const std::vector<cv::Point2f>& expected, bool allFound) {
  patch.inputInnerRows.setIndexValue(rows);
  patch.inputInnerColumns.setIndexValue(columns);
  patch.inputFind.setBooleanValue(true);
  test::feed(patch.inputImage, image);
  ASSERT_TRUE(execute(patch));
  EXPECT_EQ(patch.outputAllFound.booleanValue(), allFound);
  EXPECT_EQ(patch.outputCornerCount.indexValue(), expected.size());
  test::expectPointList(patch.outputCorners.structureValue().get(), "Corner", expected,
                        image.size());
}

TEST(OpenCVFindChessboardCorners, FindsEveryBoardOfTheSampleSet) {
  // The calibration views of OpenCV's sample data, 9 × 6 inner corners each; there is no tenth.
  for (const char* name : {"left01.jpg", "left02.jpg", "left03.jpg", "left04.jpg", "left05.jpg",
                           "left06.jpg", "left07.jpg", "left08.jpg", "left09.jpg", "left11.jpg",
                           "left12.jpg", "left13.jpg", "left14.jpg"}) {
    SCOPED_TRACE(name);
    cv::Mat board = test::samplePicture(name);
    OpenCVFindChessboardCorners patch("board");
    const std::vector<cv::Point2f> corners = detect(board, {9, 6});
    ASSERT_EQ(corners.size(), 54u);
    expectSearch(patch, board, 9, 6, corners, true);
  }
}

TEST(OpenCVFindChessboardCorners, PatternFlagsAndPartlyHiddenBoards) {
  cv::Mat board = test::samplePicture("left01.jpg"), bgra;
  cv::cvtColor(board, bgra, cv::COLOR_BGR2BGRA);
  OpenCVFindChessboardCorners patch("board");
  // Inner rows are the pattern's width.
  const std::vector<cv::Point2f> transposed = detect(bgra, {6, 9});
  ASSERT_NE(transposed, detect(bgra, {9, 6}));
  expectSearch(patch, bgra, 6, 9, transposed, true);

  // With the right part of the view gray, only an adaptive threshold without normalisation
  // still finds this board.
  cv::Mat grayed = board.clone();
  cv::rectangle(grayed, cv::Rect(500, 0, 140, 480), cv::Scalar::all(128), cv::FILLED);
  EXPECT_TRUE(patch.inputAdaptiveThreshold.booleanValue());
  for (auto [adaptive, normalize, filter] : {std::tuple{true, false, false},
                                             {true, true, false},
                                             {true, false, true},
                                             {false, false, true}}) {
    patch.inputAdaptiveThreshold.setBooleanValue(adaptive);
    patch.inputNormalize.setBooleanValue(normalize);
    patch.inputFilterQuads.setBooleanValue(filter);
    const int flags = (adaptive ? cv::CALIB_CB_ADAPTIVE_THRESH : 0) |
                      (normalize ? cv::CALIB_CB_NORMALIZE_IMAGE : 0) |
                      (filter ? cv::CALIB_CB_FILTER_QUADS : 0);
    expectSearch(patch, grayed, 9, 6, detect(grayed, {9, 6}, flags), adaptive && !normalize);
  }

  // A partly hidden board: what the detector reported, in a structure (never nil).
  patch.inputAdaptiveThreshold.setBooleanValue(true);
  patch.inputFilterQuads.setBooleanValue(false);
  const std::vector<cv::Point2f> whole = detect(board, {9, 6});
  ASSERT_EQ(whole.size(), 54u);
  cv::rectangle(board, cv::Rect(cv::Point(whole[10]) - cv::Point(15, 15), cv::Size(30, 30)),
                cv::Scalar::all(255), cv::FILLED);
  expectSearch(patch, board, 9, 6, detect(board, {9, 6}), false);
}

TEST(OpenCVFindChessboardCorners, OutputsFreezeWhileTheSearchCannotRun) {
  cv::Mat board = test::samplePicture("left02.jpg");
  cv::Mat blank(480, 640, CV_8UC3, cv::Scalar::all(255));
  cv::Mat twoChannels(480, 640, CV_8UC2, cv::Scalar::all(128));
  OpenCVFindChessboardCorners patch("board");
  // Find off from the start: the outputs keep their initial values.
  test::feed(patch.inputImage, board);
  ASSERT_TRUE(execute(patch));
  EXPECT_EQ(patch.outputCorners.structureValue(), nullptr);
  EXPECT_EQ(patch.outputCornerCount.indexValue(), 0u);
  EXPECT_FALSE(patch.outputAllFound.booleanValue());

  expectSearch(patch, board, 9, 6, detect(board, {9, 6}), true);
  const auto found = patch.outputCorners.structureValue();
  // Each failed run condition leaves the last search's outputs, even with a blank view waiting.
  for (auto [image, rows, columns, find] : {std::tuple{static_cast<cv::Mat*>(nullptr), 9, 6, true},
                                            {&blank, 2, 6, true},
                                            {&blank, 9, 2, true},
                                            {&blank, 9, 6, false}}) {
    test::feed(patch.inputImage, image);
    patch.inputInnerRows.setIndexValue(static_cast<std::size_t>(rows));
    patch.inputInnerColumns.setIndexValue(static_cast<std::size_t>(columns));
    patch.inputFind.setBooleanValue(find);
    ASSERT_TRUE(execute(patch));
    EXPECT_EQ(patch.outputCorners.structureValue(), found) << rows << columns << find;
    EXPECT_EQ(patch.outputCornerCount.indexValue(), 54u);
    EXPECT_TRUE(patch.outputAllFound.booleanValue());
  }
  // Level-triggered: while find stays on, every frame searches again.
  expectSearch(patch, blank, 9, 6, {}, false);
  EXPECT_NE(patch.outputCorners.structureValue(), found);
  // An image the detector refuses is a search without corners, and OpenCV's report.
  expectSearch(patch, board, 9, 6, detect(board, {9, 6}), true);
  EXPECT_NE(test::stderrOf([&] {
              expectSearch(patch, twoChannels, 9, 6, {}, false);
            }).find("OpenCVFindChessboardCorners: OpenCV("),
            std::string::npos);
}

}  // namespace
}  // namespace cvcomp
