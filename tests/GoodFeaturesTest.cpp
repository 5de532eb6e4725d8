

#include "TestSupport.hpp"
#include "features/OpenCVGoodFeaturesToTrack.hpp"

namespace cvcomp {
namespace {

using test::execute;

struct Finder {
  OpenCVGoodFeaturesToTrack patch{"features"};

  std::shared_ptr<QCStructure> run(cv::Mat& image, bool find) {
    test::feed(patch.inputImage, image);
    patch.inputFindSignal.setBooleanValue(find);
    EXPECT_TRUE(execute(patch));
    return patch.outputPoints.structureValue();
  }
};

// The corners that the patch's defaults (50 points, quality 0.01, distance 10) should find.
std::vector<cv::Point2f> corners(const cv::Mat& gray, int count = 50, float quality = 0.01f,
                                 float distance = 10.0f) {
  std::vector<cv::Point2f> found;
  cv::goodFeaturesToTrack(gray, found, count, quality, distance, cv::noArray(), 7, false, 0.04f);
  return found;
}

TEST(OpenCVGoodFeaturesToTrack, PublishesOpenCVsCornersInCentredUnits) {
  cv::Mat gray = test::grayPicture("building.jpg");
  Finder finder;
  const std::vector<cv::Point2f> expected = corners(gray);
  ASSERT_EQ(expected.size(), 50u);
  test::expectPointList(finder.run(gray, true).get(), "Point", expected, gray.size());

  // A thousand at most, under consecutive keys from Point0000 to Point0999.
  finder.patch.inputMaxPoints.setIndexValue(5000);
  EXPECT_EQ(finder.patch.inputMaxPoints.indexValue(), 1000u);
  finder.patch.inputQuality.setDoubleValue(0.001);
  finder.patch.inputMinDistance.setDoubleValue(1.0);
  finder.run(gray, false);
  const std::vector<cv::Point2f> thousand = corners(gray, 1000, 0.001f, 1.0f);
  ASSERT_EQ(thousand.size(), 1000u);
  test::expectPointList(finder.run(gray, true).get(), "Point", thousand, gray.size());

  // Quality 0 is refused by OpenCV, which reports it: an empty list; a flat frame finds nothing.
  finder.patch.inputQuality.setDoubleValue(0.0);
  finder.run(gray, false);
  EXPECT_NE(test::stderrOf([&] {
              test::expectPointList(finder.run(gray, true).get(), "Point", {}, gray.size());
            }).find("OpenCVGoodFeaturesToTrack: OpenCV("),
            std::string::npos);
  cv::Mat flat(240, 320, CV_8UC1, cv::Scalar(128));
  finder.patch.inputQuality.setDoubleValue(0.01);
  finder.run(flat, false);
  test::expectPointList(finder.run(flat, true).get(), "Point", {}, flat.size());
}

TEST(OpenCVGoodFeaturesToTrack, SearchesOnRisingEdgesAndAfterResets) {
  cv::Mat building = test::grayPicture("building.jpg");
  cv::Mat sudoku = test::grayPicture("sudoku.png");
  cv::Mat colour = test::samplePicture("building.jpg");
  const std::vector<cv::Point2f> onBuilding = corners(building), onSudoku = corners(sudoku);
  Finder finder;
  EXPECT_EQ(finder.run(building, false), nullptr);
  const std::shared_ptr<QCStructure> list = finder.run(building, true);
  test::expectPointList(list.get(), "Point", onBuilding, building.size());
  // Held YES over another image: no new search, the list stays as it is.
  for (int frame = 0; frame < 3; ++frame) EXPECT_EQ(finder.run(sudoku, true), list);
  test::expectPointList(list.get(), "Point", onBuilding, building.size());
  // Falling and rising again searches the current image, refilling the same list.
  EXPECT_EQ(finder.run(sudoku, false), list);
  EXPECT_EQ(finder.run(sudoku, true), list);
  test::expectPointList(list.get(), "Point", onSudoku, sudoku.size());
  // After disable a held YES searches again.
  finder.patch.disable(test::context());
  EXPECT_EQ(finder.run(building, true), list);
  test::expectPointList(list.get(), "Point", onBuilding, building.size());

  // An unsuitable frame publishes nil; the signal, held YES all along, searches again on the
  // first suitable frame, into a new list, while the one published before keeps its points.
  std::shared_ptr<QCStructure> last = list;
  for (const auto& [unsuitable, restore] :
       std::initializer_list<std::pair<std::function<void()>, std::function<void()>>>{
           {[&] { test::feed(finder.patch.inputImage, nullptr); }, [] {}},
           {[&] { test::feed(finder.patch.inputImage, colour); }, [] {}},
           {[&] { finder.patch.inputMaxPoints.setIndexValue(0); },
            [&] { finder.patch.inputMaxPoints.setIndexValue(50); }}}) {
    unsuitable();
    EXPECT_TRUE(execute(finder.patch));
    EXPECT_EQ(finder.patch.outputPoints.structureValue(), nullptr);
    restore();
    const std::shared_ptr<QCStructure> again = finder.run(building, true);
    EXPECT_NE(again, last);
    test::expectPointList(again.get(), "Point", onBuilding, building.size());
    test::expectPointList(last.get(), "Point", onBuilding, building.size());
    last = again;
  }
}

}  // namespace
}  // namespace cvcomp
