
#include <algorithm>
#include <tuple>

#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include "DetectionSupport.hpp"
#include "TestSupport.hpp"
#include "detection/OpenCVHaarDetectObjects.hpp"

namespace cvcomp {
namespace {

using test::execute;

// Frames 150 and 200 of the clip show one face each; on frame 25 the detector finds a face and
// a false one. Each as the bridge hands it on: 8-bit BGRA, its bottom row first.
constexpr int kOneFace150 = 0, kOneFace200 = 1, kTwoFound25 = 2;
cv::Mat& megamind(int which) {
  static std::vector<cv::Mat> frames = [] {
    cv::VideoCapture clip(test::sample("Megamind.avi").string());
    std::vector<cv::Mat> found(3);
    cv::Mat frame;
    for (int index = 0; index <= 200 && clip.read(frame); ++index) {
      const int slot = index == 150 ? 0 : index == 200 ? 1 : index == 25 ? 2 : -1;
      if (slot < 0) continue;
      cv::cvtColor(frame, found[slot], cv::COLOR_BGR2BGRA);
      cv::flip(found[slot], found[slot], 0);
    }
    return found;
  }();
  EXPECT_FALSE(frames[which].empty());
  return frames[which];
}

cv::CascadeClassifier& frontalFace() {
  static cv::CascadeClassifier cascade(test::frontalFace().string());
  return cascade;
}

void use(OpenCVHaarDetectObjects& haar, cv::CascadeClassifier* cascade) {
  haar.inputCascade.setCvObjectValue(std::make_shared<OpenCVObject>(cascade));
}

// The published rectangles as (X, Y, W, H), sorted: the detector collects its candidates on
// several threads, so the order of several objects may differ from one run to the next.
std::vector<cv::Vec4f> sorted(std::vector<cv::Vec4f> rects) {
  std::sort(rects.begin(), rects.end(), [](const cv::Vec4f& a, const cv::Vec4f& b) {
    return std::lexicographical_compare(a.val, a.val + 4, b.val, b.val + 4);
  });
  return rects;
}

std::vector<cv::Vec4f> rectanglesOf(const OpenCVHaarDetectObjects& haar) {
  EXPECT_NE(haar.outputRects.structureValue(), nullptr);
  std::vector<cv::Vec4f> rects;
  for (const auto& [index, rect] :
       test::fourNumbers(haar.outputRects.structureValue(), "Object", "XYWH")) {
    EXPECT_EQ(index, rects.size());
    rects.push_back(rect);
  }
  return sorted(rects);
}

TEST(OpenCVHaarDetectObjects, RectangleValuesAndReducedSizes) {
  const cv::Size searched(304, 228);
  auto list = std::make_shared<QCStructure>();
  list->addMember(OpenCVHaarDetectObjects::rectangle({0, 0, 304, 228}, searched), "Object0000");
  list->addMember(OpenCVHaarDetectObjects::rectangle({0, 0, 76, 57}, searched), "Object0001");
  EXPECT_EQ(
      test::fourNumbers(list, "Object", "XYWH"),
      (std::map<std::size_t, cv::Vec4f>{{0, {0, 0, 2, 2}}, {1, {-0.75f, 0.5625f, 0.5f, 0.5f}}}));
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, 2.1f), cv::Size(304, 228));
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, 1.0f), cv::Size(640, 480));
  // 21 / 2.1 is just below 10 in double precision, 10 in single precision.
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({21, 21}, 2.1f), cv::Size(10, 10));
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, 500.0f), cv::Size(1, 0));
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, INFINITY), cv::Size(0, 0));
}

TEST(OpenCVHaarDetectObjects, EqualsTheDetectorOnThePreparedImage) {
  OpenCVHaarDetectObjects haar("haar");
  use(haar, &frontalFace());
  struct Settings {
    double imageScale, scaleFactor;
    std::size_t minNeighbors, minSize;
    bool cannyPruning;
    cv::Size searched;  // of a 720 × 528 frame
  };
  std::size_t found = 0;
  for (const Settings& s : {Settings{2.1, 1.3, 1, 20, true, {342, 251}},
                            {1.0, 1.2, 3, 40, false, {720, 528}},
                            {1.5, 1.1, 0, 30, true, {480, 352}}}) {
    haar.inputImageScale.setDoubleValue(s.imageScale);
    haar.inputScaleFactor.setDoubleValue(s.scaleFactor);
    haar.inputMinNeighbors.setIndexValue(s.minNeighbors);
    haar.inputMinSize.setIndexValue(s.minSize);
    haar.inputCannyPruning.setBooleanValue(s.cannyPruning);
    for (int frame : {kOneFace150, kOneFace200, kTwoFound25}) {
      test::feed(haar.inputImage, megamind(frame));
      ASSERT_TRUE(execute(haar));
      cv::Mat gray, reduced;
      cv::cvtColor(megamind(frame), gray, cv::COLOR_BGRA2GRAY);
      cv::resize(gray, reduced, s.searched, 0, 0, cv::INTER_LINEAR);
      cv::flip(reduced, reduced, 0);
      cv::equalizeHist(reduced, reduced);
      std::vector<cv::Rect> rects, unpruned;
      const cv::Size minSize(static_cast<int>(s.minSize), static_cast<int>(s.minSize));
      frontalFace().detectMultiScale(reduced, rects, static_cast<float>(s.scaleFactor),
                                     static_cast<int>(s.minNeighbors),
                                     s.cannyPruning ? cv::CASCADE_DO_CANNY_PRUNING : 0, minSize);
      // The installed detector ignores the Canny-pruning flag, as the README says.
      if (s.cannyPruning) {
        frontalFace().detectMultiScale(reduced, unpruned, static_cast<float>(s.scaleFactor),
                                       static_cast<int>(s.minNeighbors), 0, minSize);
        const auto byPlace = [](const cv::Rect& a, const cv::Rect& b) {
          return std::tie(a.x, a.y, a.width, a.height) < std::tie(b.x, b.y, b.width, b.height);
        };
        std::sort(rects.begin(), rects.end(), byPlace);
        std::sort(unpruned.begin(), unpruned.end(), byPlace);
        EXPECT_EQ(rects, unpruned) << frame;
      }
      // X = (2x + w − Wr) / Wr, Y = (Hr − 2y − h) / Wr, W = 2w / Wr, H = 2h / Hr: X, W and H
      // take a single rounding, so they equal the correctly rounded value; Y is rounded twice.
      const double wr = s.searched.width, hr = s.searched.height;
      std::vector<cv::Vec4f> expected;
      for (const cv::Rect& r : rects) {
        expected.push_back(cv::Vec4d((2.0 * r.x + r.width - wr) / wr,
                                     (hr - 2.0 * r.y - r.height) / wr, 2.0 * r.width / wr,
                                     2.0 * r.height / hr));
      }
      expected = sorted(expected);
      const std::vector<cv::Vec4f> published = rectanglesOf(haar);
      ASSERT_EQ(published.size(), expected.size()) << frame;
      for (std::size_t i = 0; i < expected.size(); ++i) {
        const cv::Vec4f &p = published[i], &e = expected[i];
        EXPECT_EQ(cv::Vec3f(p[0], p[2], p[3]), cv::Vec3f(e[0], e[2], e[3])) << i;
        EXPECT_FLOAT_EQ(p[1], e[1]) << i;
      }
      found += rects.size();
    }
  }
  EXPECT_GE(found, 9u);
}

TEST(OpenCVHaarDetectObjects, ClassicAndCurrentCascadesFindTheFacesWhereTheyAre) {
  const test::TempFolder folder;
  test::writeClassicCascade(test::frontalFace(), folder / "classic.xml");
  ASSERT_NE(test::contents(folder / "classic.xml").find("type_id=\"opencv-haar-classifier\""),
            std::string::npos);
  cv::CascadeClassifier classic((folder / "classic.xml").string());
  ASSERT_FALSE(classic.empty());
  OpenCVHaarDetectObjects withCurrent("current"), withClassic("classic");
  use(withCurrent, &frontalFace());
  use(withClassic, &classic);
  // Where the faces are in the pictures, as seen in them (columns, rows from the top).
  for (const auto& [frame, face] : {std::pair{kOneFace150, cv::Rect(400, 190, 170, 170)},
                                    {kOneFace200, cv::Rect(250, 90, 340, 320)},
                                    {kTwoFound25, cv::Rect()}}) {
    test::feed(withCurrent.inputImage, megamind(frame));
    test::feed(withClassic.inputImage, megamind(frame));
    ASSERT_TRUE(execute(withCurrent));
    ASSERT_TRUE(execute(withClassic));
    const std::vector<cv::Vec4f> rects = rectanglesOf(withCurrent);
    EXPECT_EQ(rectanglesOf(withClassic), rects) << frame;
    ASSERT_EQ(rects.size(), face.empty() ? 2u : 1u) << frame;
    if (face.empty()) continue;
    // The centre in pixels of the 720 × 528 picture, top row 0, and the width.
    const cv::Point2f centre((rects[0][0] + 1) * 360, 264 - rects[0][1] * 360);
    EXPECT_TRUE(face.contains(centre)) << frame << ": " << centre;
    EXPECT_GT(rects[0][2] * 360, face.width * 0.7f) << frame;
    EXPECT_LT(rects[0][2] * 360, face.width * 1.3f) << frame;
  }
}

TEST(OpenCVHaarDetectObjects, NilOrEmptyForWhatItCannotSearch) {
  OpenCVHaarDetectObjects haar("haar");
  cv::CascadeClassifier nothing;
  cv::Mat twoChannels(200, 200, CV_8UC2, cv::Scalar(1, 2));
  // Without a cascade, with a failed load's box holding null, or without an image: nil, and no
  // work image is made.
  const auto before = ImageBuffer::allocationCount();
  for (const auto& setUp : std::initializer_list<std::function<void()>>{
           [&] { test::feed(haar.inputImage, megamind(kOneFace150)); }, [&] { use(haar, nullptr); },
           [&] {
             use(haar, &frontalFace());
             test::feed(haar.inputImage, nullptr);
           }}) {
    setUp();
    ASSERT_TRUE(execute(haar));
    EXPECT_EQ(haar.outputRects.structureValue(), nullptr);
  }
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  // Two channels, a reduced size of 1 × 0 or 0 × 0, a cascade that holds nothing (which the
  // detector refuses, with its report): an empty structure.
  for (const auto& setUp : std::initializer_list<std::function<void()>>{
           [&] { test::feed(haar.inputImage, twoChannels); },
           [&] {
             test::feed(haar.inputImage, megamind(kOneFace150));
             haar.inputImageScale.setDoubleValue(600.0);
           },
           [&] { haar.inputImageScale.setDoubleValue(INFINITY); },
           [&] {
             haar.inputImageScale.setDoubleValue(2.1);
             use(haar, &nothing);
           }}) {
    setUp();
    const std::string report = test::stderrOf([&] { ASSERT_TRUE(execute(haar)); });
    EXPECT_EQ(rectanglesOf(haar), std::vector<cv::Vec4f>{});
    EXPECT_EQ(report.find("OpenCVHaarDetectObjects: ") != std::string::npos,
              haar.inputCascade.cvObjectValue()->value() == &nothing);
  }
}

TEST(OpenCVHaarDetectObjects, SteadyFramesAllocateNothingAndGrayInputsWork) {
  OpenCVHaarDetectObjects haar("haar");
  use(haar, &frontalFace());
  test::feed(haar.inputImage, megamind(kTwoFound25));
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(rectanglesOf(haar).size(), 2u);
  const auto before = ImageBuffer::allocationCount();
  test::feed(haar.inputImage, megamind(kOneFace150));
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  // A later frame's structure holds only its own objects; the same picture in gray finds the
  // same face.
  const std::vector<cv::Vec4f> colour = rectanglesOf(haar);
  EXPECT_EQ(colour.size(), 1u);
  cv::Mat gray;
  cv::cvtColor(megamind(kOneFace150), gray, cv::COLOR_BGRA2GRAY);
  test::feed(haar.inputImage, gray);
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(rectanglesOf(haar), colour);
}

}  // namespace
}  // namespace cvcomp
