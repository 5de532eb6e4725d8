#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>

#include "DetectionSupport.hpp"
#include "TestSupport.hpp"
#include "bridge/QCImageToOpenCVImage.hpp"
#include "detection/OpenCVHaarDetectObjects.hpp"
#include "detection/OpenCVLoad.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

using test::execute;

const std::string kFrontalFace = "haarcascades/haarcascade_frontalface_default.xml";

// Frames of the clip with one face each, and with two detections (a face and a false one).
constexpr int kOneFace150 = 0, kOneFace200 = 1, kTwoFound25 = 2;
const std::vector<cv::Mat>& megamind() {
  static const std::vector<cv::Mat> frames = test::clipFrames("Megamind.avi", {25, 150, 200});
  static const std::vector<cv::Mat> ordered{frames[1], frames[2], frames[0]};
  return ordered;
}

// A picture as the bridge hands it on: 8-bit BGRA, its bottom row first.
class Bridged {
 public:
  explicit Bridged(const cv::Mat& bgr) {
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    bridge_.inputImage.setImageValue(test::hostImage(bgra));
    EXPECT_TRUE(execute(bridge_));
  }
  void feed(OpenCVHaarDetectObjects& haar) const {
    haar.inputImage.setCvObjectValue(bridge_.outputImage.cvObjectValue());
  }
  const cv::Mat& image() const { return *imageValue(bridge_.outputImage); }

 private:
  QCImageToOpenCVImage bridge_{"toCV"};
};

class Loaded {
 public:
  explicit Loaded(const std::filesystem::path& file) {
    load_.inputPath.setStringValue(file.string());
    EXPECT_TRUE(execute(load_));
  }
  void feed(OpenCVHaarDetectObjects& haar) const {
    haar.inputCascade.setCvObjectValue(load_.outputData.cvObjectValue());
  }

 private:
  OpenCVLoad load_{"load"};
};

float number(const QCStructure& object, const std::string& key) {
  const QCNumber* value = object.numberForKey(key);
  EXPECT_NE(value, nullptr) << key;
  if (!value) return NAN;
  EXPECT_TRUE(value->single) << key;
  return static_cast<float>(value->value);
}

// The rectangle structure holds exactly `rects`, with the values of the formulas
// X = (2x + w − Wr) / Wr, Y = (Hr − 2y − h) / Wr, W = 2w / Wr, H = 2h / Hr. X, W and H take a
// single rounding, so they equal the correctly rounded value; Y is rounded twice on its way.
// The detector collects its candidates on several threads, so the order of several objects may
// differ from one run to the next: the rectangles are compared in sorted order.
void expectRectangles(const std::shared_ptr<QCStructure>& structure,
                      const std::vector<cv::Rect>& rects, cv::Size searched) {
  ASSERT_NE(structure, nullptr);
  ASSERT_EQ(structure->count(), rects.size());
  const double wr = searched.width, hr = searched.height;
  std::vector<cv::Vec4f> expected, published;
  for (const cv::Rect& r : rects) {
    expected.push_back({static_cast<float>((2.0 * r.x + r.width - wr) / wr),
                        static_cast<float>(2.0 * r.width / wr),
                        static_cast<float>(2.0 * r.height / hr),
                        static_cast<float>((hr - 2.0 * r.y - r.height) / wr)});
  }
  for (std::size_t i = 0; i < structure->count(); ++i) {
    const auto& [key, member] = structure->members()[i];
    ASSERT_EQ(key, numberedKey("Object", i));
    const QCStructure& object = *std::get<std::shared_ptr<QCStructure>>(member);
    ASSERT_EQ(object.count(), 4u);
    EXPECT_EQ(object.members()[0].first + object.members()[1].first + object.members()[2].first +
                  object.members()[3].first,
              "XYWH");
    published.push_back(
        {number(object, "X"), number(object, "W"), number(object, "H"), number(object, "Y")});
  }
  const auto before = [](const cv::Vec4f& a, const cv::Vec4f& b) {
    return std::lexicographical_compare(a.val, a.val + 4, b.val, b.val + 4);
  };
  std::sort(expected.begin(), expected.end(), before);
  std::sort(published.begin(), published.end(), before);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(published[i][0], expected[i][0]) << "X of " << i;
    EXPECT_EQ(published[i][1], expected[i][1]) << "W of " << i;
    EXPECT_EQ(published[i][2], expected[i][2]) << "H of " << i;
    EXPECT_FLOAT_EQ(published[i][3], expected[i][3]) << "Y of " << i;
  }
}

TEST(OpenCVHaarDetectObjects, RectangleValues) {
  const cv::Size searched(304, 228);
  const auto whole = OpenCVHaarDetectObjects::rectangle({0, 0, 304, 228}, searched);
  const auto corner = OpenCVHaarDetectObjects::rectangle({0, 0, 76, 57}, searched);
  for (const auto& [object, expected] : {std::pair{whole, cv::Vec4f(0, 0, 2, 2)},
                                         {corner, cv::Vec4f(-0.75f, 0.5625f, 0.5f, 0.5f)}}) {
    EXPECT_EQ(number(*object, "X"), expected[0]);
    EXPECT_EQ(number(*object, "Y"), expected[1]);
    EXPECT_EQ(number(*object, "W"), expected[2]);
    EXPECT_EQ(number(*object, "H"), expected[3]);
  }
}

TEST(OpenCVHaarDetectObjects, ReducesTheSizeInSinglePrecision) {
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, 2.1f), cv::Size(304, 228));
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, 1.0f), cv::Size(640, 480));
  // 21 / 2.1 is just below 10 in double precision, 10 in single precision.
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({21, 21}, 2.1f), cv::Size(10, 10));
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, 500.0f), cv::Size(1, 0));
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, INFINITY), cv::Size(0, 0));
}

struct Settings {
  double imageScale;
  double scaleFactor;
  std::size_t minNeighbors;
  std::size_t minSize;
  bool cannyPruning;
  cv::Size searched;  // of a 720 × 528 frame
};

TEST(OpenCVHaarDetectObjects, EqualsTheDetectorOnThePreparedImage) {
  const std::filesystem::path file = test::cascadeFile(kFrontalFace);
  const Loaded cascade(file);
  cv::CascadeClassifier direct(file.string());
  OpenCVHaarDetectObjects haar("haar");
  cascade.feed(haar);

  const std::vector<Settings> settings{{2.1, 1.3, 1, 20, true, {342, 251}},
                                       {1.0, 1.1, 3, 40, false, {720, 528}},
                                       {1.5, 1.2, 0, 30, true, {480, 352}}};
  std::size_t found = 0;
  for (const Settings& s : settings) {
    haar.inputImageScale.setDoubleValue(s.imageScale);
    haar.inputScaleFactor.setDoubleValue(s.scaleFactor);
    haar.inputMinNeighbors.setIndexValue(s.minNeighbors);
    haar.inputMinSize.setIndexValue(s.minSize);
    haar.inputCannyPruning.setBooleanValue(s.cannyPruning);
    for (const cv::Mat& frame : megamind()) {
      const Bridged picture(frame);
      picture.feed(haar);
      ASSERT_TRUE(execute(haar));

      cv::Mat gray, reduced;
      cv::cvtColor(picture.image(), gray, cv::COLOR_BGRA2GRAY);
      cv::resize(gray, reduced, s.searched, 0, 0, cv::INTER_LINEAR);
      cv::flip(reduced, reduced, 0);
      cv::equalizeHist(reduced, reduced);
      std::vector<cv::Rect> rects;
      direct.detectMultiScale(reduced, rects, static_cast<float>(s.scaleFactor),
                              static_cast<int>(s.minNeighbors),
                              s.cannyPruning ? cv::CASCADE_DO_CANNY_PRUNING : 0,
                              cv::Size(static_cast<int>(s.minSize), static_cast<int>(s.minSize)));
      expectRectangles(haar.outputRects.structureValue(), rects, s.searched);
      found += rects.size();
    }
  }
  EXPECT_GE(found, settings.size() * megamind().size());
}

// The centre of a published rectangle in pixels of the picture (top row 0), and its width.
cv::Point2f pictureCentre(const QCStructure& object, cv::Size picture) {
  const float half = picture.width / 2.0f;
  return {(number(object, "X") + 1) * half, picture.height / 2.0f - number(object, "Y") * half};
}

TEST(OpenCVHaarDetectObjects, FindsTheFacesWhereTheyAre) {
  const Loaded cascade(test::cascadeFile(kFrontalFace));
  OpenCVHaarDetectObjects haar("haar");
  cascade.feed(haar);
  // Where the faces are in the pictures, as seen in them (columns, rows from the top).
  const std::vector<std::pair<int, cv::Rect>> faces{{kOneFace150, {400, 190, 170, 170}},
                                                    {kOneFace200, {250, 90, 340, 320}}};
  for (const auto& [frame, face] : faces) {
    const Bridged picture(megamind()[frame]);
    picture.feed(haar);
    ASSERT_TRUE(execute(haar));
    const auto& rects = haar.outputRects.structureValue();
    ASSERT_EQ(rects->count(), 1u) << frame;
    const QCStructure& object = *rects->structureForKey("Object0000");
    const cv::Point2f centre = pictureCentre(object, megamind()[frame].size());
    EXPECT_TRUE(face.contains(centre)) << frame << ": " << centre;
    const float width = number(object, "W") * 360;
    EXPECT_GT(width, face.width * 0.7f) << frame;
    EXPECT_LT(width, face.width * 1.3f) << frame;
  }
}

TEST(OpenCVHaarDetectObjects, ClassicAndCurrentCascadesFindTheSameFaces) {
  const test::TempFolder folder;
  const std::filesystem::path current = test::cascadeFile(kFrontalFace);
  const std::filesystem::path classic = folder.path() / "classic.xml";
  test::writeClassicCascade(current, classic);
  ASSERT_NE(test::contents(classic).find("type_id=\"opencv-haar-classifier\""), std::string::npos);
  EXPECT_FALSE(cv::CascadeClassifier(classic.string()).empty());

  const Loaded fromCurrent(current), fromClassic(classic);
  OpenCVHaarDetectObjects withCurrent("current"), withClassic("classic");
  fromCurrent.feed(withCurrent);
  fromClassic.feed(withClassic);
  for (int frame : {kOneFace150, kOneFace200, kTwoFound25}) {
    const Bridged picture(megamind()[frame]);
    picture.feed(withCurrent);
    picture.feed(withClassic);
    ASSERT_TRUE(execute(withCurrent));
    ASSERT_TRUE(execute(withClassic));
    const auto& a = withCurrent.outputRects.structureValue();
    const auto& b = withClassic.outputRects.structureValue();
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(a->count(), frame == kTwoFound25 ? 2u : 1u) << frame;
    ASSERT_EQ(b->count(), a->count()) << frame;
    for (std::size_t i = 0; i < a->count(); ++i) {
      const QCStructure& x = *std::get<std::shared_ptr<QCStructure>>(a->members()[i].second);
      const QCStructure& y = *std::get<std::shared_ptr<QCStructure>>(b->members()[i].second);
      EXPECT_EQ(x.members(), y.members()) << frame;
    }
  }
}

TEST(OpenCVHaarDetectObjects, NilWithoutImageOrCascade) {
  const Bridged picture(megamind()[kOneFace150]);
  const Loaded cascade(test::cascadeFile(kFrontalFace));
  testing::internal::CaptureStderr();
  const Loaded failed("/nonexistent/cvcomp/face.xml");
  testing::internal::GetCapturedStderr();
  OpenCVHaarDetectObjects haar("haar");
  auto expectNil = [&] {
    ASSERT_TRUE(execute(haar));
    EXPECT_EQ(haar.outputRects.structureValue(), nullptr);
  };
  const auto before = ImageBuffer::allocationCount();
  picture.feed(haar);
  expectNil();
  EXPECT_EQ(ImageBuffer::allocationCount(), before) << "no work image without a cascade";

  failed.feed(haar);
  expectNil();

  cascade.feed(haar);
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(haar.outputRects.structureValue()->count(), 1u);
  haar.inputImage.setCvObjectValue(nullptr);
  expectNil();
}

TEST(OpenCVHaarDetectObjects, EmptyStructureForImagesItCannotSearch) {
  const Loaded cascade(test::cascadeFile(kFrontalFace));
  OpenCVHaarDetectObjects haar("haar");
  cascade.feed(haar);
  auto expectEmpty = [&] {
    ASSERT_TRUE(execute(haar));
    ASSERT_NE(haar.outputRects.structureValue(), nullptr);
    EXPECT_EQ(haar.outputRects.structureValue()->count(), 0u);
  };

  cv::Mat twoChannels(200, 200, CV_8UC2, cv::Scalar(1, 2));
  test::feed(haar.inputImage, twoChannels);
  expectEmpty();

  const Bridged picture(megamind()[kOneFace150]);
  picture.feed(haar);
  haar.inputImageScale.setDoubleValue(600.0);  // 720 × 528 becomes 1 × 0
  expectEmpty();
  haar.inputImageScale.setDoubleValue(INFINITY);
  expectEmpty();

  // A cascade that holds nothing is refused by the detector, which reports it.
  cv::CascadeClassifier nothing;
  haar.inputCascade.setCvObjectValue(std::make_shared<OpenCVObject>(&nothing));
  haar.inputImageScale.setDoubleValue(2.1);
  testing::internal::CaptureStderr();
  expectEmpty();
  EXPECT_NE(testing::internal::GetCapturedStderr().find("OpenCVHaarDetectObjects: "),
            std::string::npos);
}

TEST(OpenCVHaarDetectObjects, SteadyFramesAllocateNothingAndGrayInputsWork) {
  const Loaded cascade(test::cascadeFile(kFrontalFace));
  OpenCVHaarDetectObjects haar("haar");
  cascade.feed(haar);
  const Bridged first(megamind()[kTwoFound25]), second(megamind()[kOneFace150]);
  first.feed(haar);
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(haar.outputRects.structureValue()->count(), 2u);
  const auto before = ImageBuffer::allocationCount();
  second.feed(haar);
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  const auto& colour = haar.outputRects.structureValue();
  ASSERT_EQ(colour->count(), 1u) << "a later frame's structure holds only its own objects";

  // The same picture in gray finds the same face.
  cv::Mat gray;
  cv::cvtColor(second.image(), gray, cv::COLOR_BGRA2GRAY);
  test::feed(haar.inputImage, gray);
  ASSERT_TRUE(execute(haar));
  const auto& fromGray = haar.outputRects.structureValue();
  ASSERT_EQ(fromGray->count(), 1u);
  EXPECT_EQ(fromGray->structureForKey("Object0000")->members(),
            colour->structureForKey("Object0000")->members());
}

}  // namespace
}  // namespace cvcomp

namespace cvcomp {
namespace {

// The README says that the installed detector ignores the Canny-pruning flag: hold it to that.
TEST(OpenCVHaarDetectObjects, TheInstalledDetectorIgnoresCannyPruning) {
  const Loaded cascade(test::cascadeFile(kFrontalFace));
  OpenCVHaarDetectObjects pruned("pruned"), plain("plain");
  plain.inputCannyPruning.setBooleanValue(false);
  ASSERT_TRUE(pruned.inputCannyPruning.booleanValue());
  cascade.feed(pruned);
  cascade.feed(plain);
  auto sortedValues = [](const QCStructure& rects) {
    std::vector<std::vector<StructureMember>> values;
    for (const auto& [key, member] : rects.members()) {
      std::vector<StructureMember> object;
      for (const auto& entry : std::get<std::shared_ptr<QCStructure>>(member)->members()) {
        object.push_back(entry.second);
      }
      values.push_back(object);
    }
    std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) {
      return std::get<QCNumber>(a[0]).value < std::get<QCNumber>(b[0]).value;
    });
    return values;
  };
  for (int frame : {kOneFace150, kOneFace200, kTwoFound25}) {
    const Bridged picture(megamind()[frame]);
    picture.feed(pruned);
    picture.feed(plain);
    ASSERT_TRUE(execute(pruned));
    ASSERT_TRUE(execute(plain));
    EXPECT_GT(pruned.outputRects.structureValue()->count(), 0u);
    EXPECT_EQ(sortedValues(*pruned.outputRects.structureValue()),
              sortedValues(*plain.outputRects.structureValue()))
        << frame;
  }
}

}  // namespace
}  // namespace cvcomp
