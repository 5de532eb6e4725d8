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
           {"~root/c.xml", none, std::string(getpwnam("root")->pw_dir) + "/c.xml"},
           {"~nosuchuser-cvcomp/c.xml", none, "~nosuchuser-cvcomp/c.xml"},
           {"/tmp/c.xml", doc, "/tmp/c.xml"},
           {"c.xml", doc, "/A/B/c.xml"},
           {"../c.xml", doc, "/A/B/../c.xml"},
           {"c.xml", {"doc"}, "c.xml"},
           {"c.xml", none, std::nullopt}}) {
    const auto path = OpenCVLoad::resolvePath(text, options);
    EXPECT_EQ(path ? std::optional<std::string>(path->string()) : std::nullopt, resolved) << text;
  }
}

// Each load frees the cascade held before, once. The same path again reads the file again; paths
// are UTF-8, absolute or relative to the composition file; a cascade of the classic format (as
// opencv-data ships one) loads too. No path, or a relative path without a composition file,
// gives nil; a file without a usable cascade publishes a box holding null, and says why.
TEST(OpenCVLoad, EachLoadFreesTheCascadeBeforeAndFilesWithoutOneSayWhy) {
  namespace fs = std::filesystem;
  const test::TempFolder folder;
  const std::string face = test::frontalFace().string(), cascade = test::contents(face);
  const fs::path accented = folder.write("Visages détectés/façade.xml", cascade);
  const fs::path dangling = folder / "dangling.xml", loop = folder / "loop.xml";
  fs::create_symlink(folder / "gone.xml", dangling);
  fs::create_symlink(loop, loop);
  const PatchOptions none, beside{accented.parent_path() / "doc.json"};
  auto load = std::make_unique<OpenCVLoad>("load");
  // Never set: the first execution clears the output.
  EXPECT_TRUE(test::execute(*load));
  EXPECT_EQ(load->outputData.cvObjectValue(), nullptr);
  struct Case {
    PatchOptions options;
    fs::path file;
    Output output;
    std::string reason;
  };
  for (const Case& c : std::vector<Case>{
           {none, face, Output::Cascade, ""},
           {none,
            fs::path(CVCOMP_CASCADE_DATA) /
                "haarcascades/haarcascade_licence_plate_rus_16stages.xml",
            Output::Cascade, ""},
           {none, accented, Output::Cascade, ""},
           {beside, "façade.xml", Output::Cascade, ""},
           {none, "", Output::Nil, ""},
           {none, "face.xml", Output::Nil, ""},
           {none, folder / "missing.xml", Output::Null, "no such file"},
           {none, dangling, Output::Null, "no such file"},
           {none, loop, Output::Null, "Too many levels of symbolic links"},
           {none, folder.path(), Output::Null, "a folder, not a cascade file"},
           {none, folder.write("empty.xml", ""), Output::Null, "not an XML cascade file"},
           {none, folder.write("text.xml", "not a file storage\n"), Output::Null,
            "not an XML cascade file"},
           // A valid file storage whose first object is a camera calibration, not a cascade.
           {none, test::sample("calibration.yml"), Output::Null, "not an XML cascade file"},
           {none, folder.write("truncated.xml", cascade.substr(0, cascade.size() / 2)),
            Output::Null, "holds no cascade that OpenCV can use"},
           {none,
            folder.write("other.xml",
                         "<?xml version=\"1.0\"?>\n<opencv_storage>\n"
                         "<camera>1</camera>\n</opencv_storage>\n"),
            Output::Null, "holds no cascade that OpenCV can use"},
           // OpenCV's own reader dereferences null on this one.
           {none, folder.write("crash.xml", "<?xml n ="), Output::Null,
            "OpenCV's cascade reader crashes on this file"},
       }) {
    load->setOptions(c.options);
    EXPECT_EQ(runWith(*load, face), Output::Cascade);
    const auto held = watch(*load);
    EXPECT_EQ(held.use_count(), 1);
    const std::string err =
        test::stderrOf([&] { EXPECT_EQ(runWith(*load, c.file.string()), c.output) << c.file; });
    EXPECT_EQ(err,
              c.reason.empty() ? "" : "OpenCVLoad: " + c.file.string() + ": " + c.reason + "\n");
    EXPECT_TRUE(held.expired()) << c.file;
  }
  // The system's calls would take the NUL for the end of the path and load the face.
  const std::string err = test::stderrOf(
      [&] { EXPECT_EQ(runWith(*load, face + std::string(1, '\0') + ".txt"), Output::Null); });
  EXPECT_EQ(err, "OpenCVLoad: " + face + "\\0.txt: a path holds a NUL character\n");
  // Destruction frees the last cascade, once.
  EXPECT_EQ(runWith(*load, face), Output::Cascade);
  const auto held = watch(*load);
  load.reset();
  EXPECT_TRUE(held.expired());
}

// Frames 150 and 200 of the clip show one face each; on frame 25 the detector finds a face and
// a false one. Each as the bridge hands it on: 8-bit BGRA, its bottom row first.
constexpr int kOneFace150 = 0, kOneFace200 = 1, kTwoFound25 = 2;
const cv::Size kFrame(720, 528);
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

std::vector<cv::Rect> sorted(std::vector<cv::Rect> rects) {
  std::sort(rects.begin(), rects.end(), [](const cv::Rect& a, const cv::Rect& b) {
    return std::tie(a.x, a.y, a.width, a.height) < std::tie(b.x, b.y, b.width, b.height);
  });
  return rects;
}

// The published rectangles in pixels of a `size` image, top row 0, sorted: the detector collects
// its candidates on several threads, so the order of several objects may differ between runs.
std::vector<cv::Rect> rectanglesOf(const OpenCVHaarDetectObjects& haar, cv::Size size) {
  EXPECT_NE(haar.outputRects.structureValue(), nullptr);
  std::vector<cv::Rect> rects;
  for (const auto& [index, r] :
       test::fourNumbers(haar.outputRects.structureValue(), "Object", "XYWH")) {
    EXPECT_EQ(index, rects.size());
    // Y grows upwards: the detector searched the image flipped top to bottom.
    const cv::Point2d centre = pixelOfCentredUnitPrecise({r[0], -r[1]}, size);
    const cv::Point2d half = pixelHalfExtent({r[2], r[3]}, size);
    rects.emplace_back(cvRound(centre.x - half.x), cvRound(centre.y - half.y), cvRound(2 * half.x),
                       cvRound(2 * half.y));
  }
  return sorted(rects);
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
      EXPECT_EQ(rectanglesOf(haar, s.searched), sorted(rects)) << frame;
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
    EXPECT_TRUE(rectanglesOf(haar, kFrame).empty());
    EXPECT_EQ(report.find("OpenCVHaarDetectObjects: ") != std::string::npos,
              haar.inputCascade.cvObjectValue()->value() == &nothing);
  }
}

TEST(OpenCVHaarDetectObjects, FindsTheFacesWhereTheyAreAndSteadyFramesAllocateNothing) {
  OpenCVHaarDetectObjects haar("haar");
  use(haar, &frontalFace());
  test::feed(haar.inputImage, megamind(kTwoFound25));
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(rectanglesOf(haar, kFrame).size(), 2u);
  const auto before = ImageBuffer::allocationCount();
  // Where the faces are in the pictures, as seen in them. A later frame's structure holds only
  // its own objects.
  for (const auto& [frame, face] : {std::pair{kOneFace150, cv::Rect(400, 190, 170, 170)},
                                    {kOneFace200, cv::Rect(250, 90, 340, 320)}}) {
    test::feed(haar.inputImage, megamind(frame));
    ASSERT_TRUE(execute(haar));
    const std::vector<cv::Rect> rects = rectanglesOf(haar, kFrame);
    ASSERT_EQ(rects.size(), 1u) << frame;
    EXPECT_TRUE(face.contains((rects[0].tl() + rects[0].br()) / 2)) << frame << ": " << rects[0];
    EXPECT_GT(rects[0].width, face.width * 0.7) << frame;
    EXPECT_LT(rects[0].width, face.width * 1.3) << frame;
  }
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  // The same picture in gray finds the same face.
  const std::vector<cv::Rect> colour = rectanglesOf(haar, kFrame);
  cv::Mat gray;
  cv::cvtColor(megamind(kOneFace200), gray, cv::COLOR_BGRA2GRAY);
  test::feed(haar.inputImage, gray);
  ASSERT_TRUE(execute(haar));
  EXPECT_EQ(rectanglesOf(haar, kFrame), colour);
}

}  // namespace
}  // namespace cvcomp
