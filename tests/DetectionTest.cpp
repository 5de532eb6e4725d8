// Cascade loading, with every kind of file that holds no cascade, and Haar detection against
// OpenCV's own detector on real frames.

#include <pwd.h>
#include <algorithm>
#include <cstdlib>

#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"
#include "detection/OpenCVHaarDetectObjects.hpp"
#include "detection/OpenCVLoad.hpp"

namespace cvcomp {
namespace {

using test::execute;

// What the output carries: nil, a box holding null, or a box holding a usable cascade.
enum class Output { Nil, Null, Cascade };

Output runWith(OpenCVLoad& load, const std::string& text) {
  load.inputPath.setStringValue(text);
  EXPECT_TRUE(test::execute(load));
  const auto box = load.outputData.cvObjectValue();
  if (!box) return Output::Nil;
  const auto* cascade = static_cast<cv::CascadeClassifier*>(box->value());
  return cascade && !cascade->empty() ? Output::Cascade : Output::Null;
}

// Watches the cascade a loader holds now, to tell later whether it has been freed.
std::weak_ptr<cv::BaseCascadeClassifier> watch(const OpenCVLoad& load) {
  const cv::CascadeClassifier* cascade = cascadeValue(load.outputData);
  EXPECT_NE(cascade, nullptr);
  return cascade ? cascade->cc : nullptr;
}

TEST(OpenCVLoad, ResolvesThePathAsTyped) {
  const PatchOptions none, doc{"/A/B/doc"};
  const std::string home = std::getenv("HOME");
  for (const auto& [text, options, resolved] :
       std::initializer_list<std::tuple<std::string, PatchOptions, std::optional<std::string>>>{
           {"", doc, std::nullopt},
           {"~/c.xml", none, home + "/c.xml"},
           {"~", none, home},
           {"~root/c.xml", none, std::string(getpwnam("root")->pw_dir) + "/c.xml"},
           {"~nosuchuser-cvcomp/c.xml", none, "~nosuchuser-cvcomp/c.xml"},
           {"/tmp/c.xml", doc, "/tmp/c.xml"},
           {"c.xml", doc, "/A/B/c.xml"},
           {"x/c.xml", doc, "/A/B/x/c.xml"},
           {"../c.xml", doc, "/A/B/../c.xml"},
           {"c.xml", {"doc"}, "c.xml"},
           {"c.xml", none, std::nullopt}}) {
    const auto path = OpenCVLoad::resolvePath(text, options);
    EXPECT_EQ(path ? std::optional<std::string>(path->string()) : std::nullopt, resolved) << text;
  }
}

TEST(OpenCVLoad, LoadsBothFormatsFromAbsoluteAndRelativePaths) {
  const test::TempFolder folder;
  OpenCVLoad load("load");
  // A cascade of the classic format, as opencv-data ships one.
  EXPECT_EQ(runWith(load, std::string(CVCOMP_CASCADE_DATA) +
                              "/haarcascades/haarcascade_licence_plate_rus_16stages.xml"),
            Output::Cascade);
  // Paths are UTF-8: an accented folder name loads like any other, by its absolute path or
  // relative to the composition file.
  const std::filesystem::path accented =
      folder.write("Visages détectés/façade.xml", test::contents(test::frontalFace()));
  EXPECT_EQ(runWith(load, accented.string()), Output::Cascade);
  load.setOptions({folder / "Visages détectés" / "doc.json"});
  EXPECT_EQ(runWith(load, "façade.xml"), Output::Cascade);
}

TEST(OpenCVLoad, GoesThroughItsFourStatesAndFreesEachCascadeOnce) {
  const std::string face = test::frontalFace().string();
  auto load = std::make_unique<OpenCVLoad>("load");
  EXPECT_EQ(load->outputData.type(), kOpenCVTypeCascade);
  // Never set: the first execution clears the output.
  EXPECT_TRUE(test::execute(*load));
  EXPECT_EQ(load->outputData.cvObjectValue(), nullptr);
  // The same path again reads the file again: a new cascade replaces the first. A failed load
  // frees the cascade and publishes a box holding null; no path, or a relative path without a
  // composition file, gives nil.
  for (const auto& [text, output] : {std::pair{face, Output::Cascade},
                                     {"/nonexistent/cvcomp/face.xml", Output::Null},
                                     {"", Output::Nil},
                                     {"face.xml", Output::Nil}}) {
    EXPECT_EQ(runWith(*load, face), Output::Cascade);
    const auto held = watch(*load);
    EXPECT_EQ(held.use_count(), 1);
    test::stderrOf([&] { EXPECT_EQ(runWith(*load, text), output) << text; });
    EXPECT_TRUE(held.expired()) << text;
  }
  // Destruction frees the last cascade, once.
  EXPECT_EQ(runWith(*load, face), Output::Cascade);
  const auto held = watch(*load);
  load.reset();
  EXPECT_TRUE(held.expired());
}

TEST(OpenCVLoad, FilesWithoutACascadeFailToLoadAndSayWhy) {
  const test::TempFolder folder;
  const std::string cascade = test::contents(test::frontalFace());
  const std::filesystem::path good = folder.write("good.xml", cascade);
  const std::filesystem::path dangling = folder / "dangling.xml";
  std::filesystem::create_symlink(folder / "gone.xml", dangling);
  const std::filesystem::path loop = folder / "loop.xml";
  std::filesystem::create_symlink(loop, loop);
  struct Case {
    std::filesystem::path file;
    std::string reason;
  };
  OpenCVLoad load("load");
  for (const Case& c : std::vector<Case>{
           {folder / "missing.xml", "no such file"},
           {dangling, "no such file"},
           {loop, "Too many levels of symbolic links"},
           {folder.path(), "a folder, not a cascade file"},
           {folder.write("empty.xml", ""), "not an XML cascade file"},
           {folder.write("text.xml", "not a file storage\n"), "not an XML cascade file"},
           // A valid file storage whose first object is a camera calibration, not a cascade.
           {test::sample("calibration.yml"), "not an XML cascade file"},
           {folder.write("truncated.xml", cascade.substr(0, cascade.size() / 2)),
            "holds no cascade that OpenCV can use"},
           {folder.write("other.xml",
                         "<?xml version=\"1.0\"?>\n<opencv_storage>\n"
                         "<camera>1</camera>\n</opencv_storage>\n"),
            "holds no cascade that OpenCV can use"},
           // OpenCV's own reader dereferences null on this one.
           {folder.write("crash.xml", "<?xml n ="), "OpenCV's cascade reader crashes on this file"},
       }) {
    EXPECT_EQ(runWith(load, good.string()), Output::Cascade);
    const auto held = watch(load);
    const std::string err =
        test::stderrOf([&] { EXPECT_EQ(runWith(load, c.file.string()), Output::Null) << c.file; });
    EXPECT_EQ(err, "OpenCVLoad: " + c.file.string() + ": " + c.reason + "\n");
    EXPECT_TRUE(held.expired()) << c.file;
  }
  // The system's calls would take the NUL for the end of the path and load good.xml.
  const std::string err = test::stderrOf([&] {
    EXPECT_EQ(runWith(load, good.string() + std::string(1, '\0') + ".txt"), Output::Null);
  });
  EXPECT_EQ(err, "OpenCVLoad: " + good.string() + "\\0.txt: a path holds a NUL character\n");
}

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

TEST(OpenCVHaarDetectObjects, ReducedSizesRoundInSinglePrecision) {
  EXPECT_EQ(OpenCVHaarDetectObjects::reducedSize({640, 480}, 2.1f), cv::Size(304, 228));
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
      std::vector<cv::Rect> rects;
      frontalFace().detectMultiScale(
          reduced, rects, static_cast<float>(s.scaleFactor), static_cast<int>(s.minNeighbors),
          s.cannyPruning ? cv::CASCADE_DO_CANNY_PRUNING : 0,
          cv::Size(static_cast<int>(s.minSize), static_cast<int>(s.minSize)));
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
      // The installed detector ignores the Canny-pruning flag, as the README says: with the
      // switch the other way, the same rectangles.
      haar.inputCannyPruning.setBooleanValue(!s.cannyPruning);
      ASSERT_TRUE(execute(haar));
      EXPECT_EQ(rectanglesOf(haar), published) << frame;
      haar.inputCannyPruning.setBooleanValue(s.cannyPruning);
      found += rects.size();
    }
  }
  EXPECT_GE(found, 9u);
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

TEST(OpenCVHaarDetectObjects, FindsTheFacesWhereTheyAreAndSteadyFramesAllocateNothing) {
  OpenCVHaarDetectObjects haar("haar");
  use(haar, &frontalFace());
  test::feed(haar.inputImage, megamind(kTwoFound25));
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(rectanglesOf(haar).size(), 2u);
  const auto before = ImageBuffer::allocationCount();
  // Where the faces are in the pictures, as seen in them (columns, rows from the top). A later
  // frame's structure holds only its own objects.
  for (const auto& [frame, face] : {std::pair{kOneFace150, cv::Rect(400, 190, 170, 170)},
                                    {kOneFace200, cv::Rect(250, 90, 340, 320)}}) {
    test::feed(haar.inputImage, megamind(frame));
    ASSERT_TRUE(execute(haar));
    const std::vector<cv::Vec4f> rects = rectanglesOf(haar);
    ASSERT_EQ(rects.size(), 1u) << frame;
    // The centre in pixels of the 720 × 528 picture, top row 0, and the width.
    const cv::Point2f centre((rects[0][0] + 1) * 360, 264 - rects[0][1] * 360);
    EXPECT_TRUE(face.contains(centre)) << frame << ": " << centre;
    EXPECT_GT(rects[0][2] * 360, face.width * 0.7f) << frame;
    EXPECT_LT(rects[0][2] * 360, face.width * 1.3f) << frame;
  }
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  // The same picture in gray finds the same face.
  const std::vector<cv::Vec4f> colour = rectanglesOf(haar);
  cv::Mat gray;
  cv::cvtColor(megamind(kOneFace200), gray, cv::COLOR_BGRA2GRAY);
  test::feed(haar.inputImage, gray);
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(rectanglesOf(haar), colour);
}

}  // namespace
}  // namespace cvcomp
