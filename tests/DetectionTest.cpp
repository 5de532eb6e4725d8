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
#include "host/Engine.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

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
  for (const auto& [text, options, resolved] :
       std::initializer_list<std::tuple<std::string, PatchOptions, std::optional<std::string>>>{
           {"", doc, std::nullopt},
           {"~/c.xml", none, std::string(std::getenv("HOME")) + "/c.xml"},
           {"~root/c.xml", none, std::string(getpwnam("root")->pw_dir) + "/c.xml"},
           {"~nosuchuser-cvcomp/c.xml", none, "~nosuchuser-cvcomp/c.xml"},
           {"/tmp/c.xml", doc, "/tmp/c.xml"},
           {"c.xml", doc, "/A/B/c.xml"},
           {"c.xml", {"doc"}, "c.xml"},
           {"c.xml", none, std::nullopt}}) {
    const auto path = OpenCVLoad::resolvePath(text, options);
    EXPECT_EQ(path ? std::optional<std::string>(path->string()) : std::nullopt, resolved) << text;
  }
}

// Each load frees the cascade held before, once. The same path again reads the file again; paths
// are UTF-8, absolute or relative to the composition file; a cascade of the classic format (as
// opencv-data ships one) loads too. No path gives nil; a file without a usable cascade publishes a
// box holding null, and says why.
TEST(OpenCVLoad, EachLoadFreesTheCascadeBeforeAndFilesWithoutOneSayWhy) {
  namespace fs = std::filesystem;
  const test::TempFolder folder;
  const std::string face = test::frontalFace().string(), cascade = test::contents(face);
  const fs::path accented = folder.write("Visages détectés/façade.xml", cascade);
  const fs::path dangling = folder / "dangling.xml", loop = folder / "loop.xml";
  fs::create_symlink(folder / "gone.xml", dangling);
  fs::create_symlink(loop, loop);
  auto load = std::make_unique<OpenCVLoad>("load");
  load->setOptions({accented.parent_path() / "doc.json"});
  for (const auto& [file, output, reason] :
       std::initializer_list<std::tuple<fs::path, Output, std::string>>{
           {face, Output::Cascade, ""},
           {fs::path(CVCOMP_CASCADE_DATA) /
                "haarcascades/haarcascade_licence_plate_rus_16stages.xml",
            Output::Cascade, ""},
           {accented, Output::Cascade, ""},
           {"façade.xml", Output::Cascade, ""},
           {"", Output::Nil, ""},
           {folder / "missing.xml", Output::Null, "no such file"},
           {dangling, Output::Null, "no such file"},
           {loop, Output::Null, "Too many levels of symbolic links"},
           {folder.path(), Output::Null, "a folder, not a cascade file"},
           {folder.write("empty.xml", ""), Output::Null, "not an XML cascade file"},
           // A valid file storage whose first object is a camera calibration, not a cascade.
           {test::sample("calibration.yml"), Output::Null, "not an XML cascade file"},
           {folder.write("truncated.xml", cascade.substr(0, cascade.size() / 2)), Output::Null,
            "holds no cascade that OpenCV can use"},
           {folder.write("other.xml",
                         "<?xml version=\"1.0\"?>\n<opencv_storage>\n"
                         "<camera>1</camera>\n</opencv_storage>\n"),
            Output::Null, "holds no cascade that OpenCV can use"},
           // OpenCV's own reader dereferences null on this one.
           {folder.write("crash.xml", "<?xml n ="), Output::Null,
            "OpenCV's cascade reader crashes on this file"}}) {
    EXPECT_EQ(runWith(*load, face), Output::Cascade);
    const auto held = watch(*load);
    EXPECT_EQ(held.use_count(), 1);
    const std::string err =
        test::stderrOf([&] { EXPECT_EQ(runWith(*load, file.string()), output) << file; });
    EXPECT_EQ(err, reason.empty() ? "" : "OpenCVLoad: " + file.string() + ": " + reason + "\n");
    EXPECT_TRUE(held.expired()) << file;
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
const cv::Size kFrame(720, 528);
cv::Mat& megamind(int index) {
  static std::map<int, cv::Mat> frames = [] {
    cv::VideoCapture clip(test::sample("Megamind.avi").string());
    std::map<int, cv::Mat> found;
    cv::Mat frame;
    for (int at = 0; at <= 200 && clip.read(frame); ++at) {
      if (at != 25 && at != 150 && at != 200) continue;
      cv::cvtColor(frame, found[at], cv::COLOR_BGR2BGRA);
      cv::flip(found[at], found[at], 0);
    }
    return found;
  }();
  EXPECT_FALSE(frames[index].empty());
  return frames[index];
}

cv::CascadeClassifier& frontalFace() {
  static cv::CascadeClassifier cascade(test::frontalFace().string());
  return cascade;
}

void use(OpenCVHaarDetectObjects& haar, cv::CascadeClassifier* cascade) {
  haar.inputCascade.setCvObjectValue(std::make_shared<OpenCVObject>(cascade));
}

// Rectangles that the detector found in the flipped image, in the order they are published: top
// to bottom in the image before the flip (the centre's row in the flipped image falling), then
// left to right, then smaller first.
std::vector<cv::Rect> inPublishedOrder(std::vector<cv::Rect> rects) {
  std::sort(rects.begin(), rects.end(), [](const cv::Rect& a, const cv::Rect& b) {
    return std::tuple(-(2 * a.y + a.height), 2 * a.x + a.width, a.width, a.height) <
           std::tuple(-(2 * b.y + b.height), 2 * b.x + b.width, b.width, b.height);
  });
  return rects;
}

// The published rectangles in pixels of the flipped `size` image, in their published order.
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
  return rects;
}

// A frame in colour and in gray gives what the detector finds on the frame prepared as the patch
// prepares it: in gray, reduced, upright, equalized. A later frame's structure holds only its own
// objects.
TEST(OpenCVHaarDetectObjects, EqualsTheDetectorOnThePreparedImage) {
  OpenCVHaarDetectObjects haar("haar");
  use(haar, &frontalFace());
  std::size_t found = 0;
  // The settings, and the size searched of a 720 × 528 frame.
  for (const auto& [imageScale, scaleFactor, minNeighbors, minSize, cannyPruning, searched] :
       std::initializer_list<std::tuple<double, double, int, int, bool, cv::Size>>{
           {2.1, 1.3, 1, 20, true, {342, 251}},
           {1.0, 1.2, 3, 40, false, {720, 528}},
           {1.5, 1.1, 0, 30, true, {480, 352}}}) {
    haar.inputImageScale.setDoubleValue(imageScale);
    haar.inputScaleFactor.setDoubleValue(scaleFactor);
    haar.inputMinNeighbors.setIndexValue(static_cast<std::size_t>(minNeighbors));
    haar.inputMinSize.setIndexValue(static_cast<std::size_t>(minSize));
    haar.inputCannyPruning.setBooleanValue(cannyPruning);
    for (int frame : {150, 200, 25}) {
      cv::Mat gray, reduced;
      cv::cvtColor(megamind(frame), gray, cv::COLOR_BGRA2GRAY);
      cv::resize(gray, reduced, searched, 0, 0, cv::INTER_LINEAR);
      cv::flip(reduced, reduced, 0);
      cv::equalizeHist(reduced, reduced);
      std::vector<cv::Rect> rects;
      frontalFace().detectMultiScale(reduced, rects, static_cast<float>(scaleFactor), minNeighbors,
                                     cannyPruning ? cv::CASCADE_DO_CANNY_PRUNING : 0,
                                     {minSize, minSize});
      for (cv::Mat* input : {&megamind(frame), &gray}) {
        test::feed(haar.inputImage, input);
        ASSERT_TRUE(execute(haar));
        EXPECT_EQ(rectanglesOf(haar, searched), inPublishedOrder(rects))
            << frame << input->channels();
      }
      found += rects.size();
    }
  }
  EXPECT_GE(found, 9u);
}

TEST(OpenCVHaarDetectObjects, NilOrEmptyForWhatItCannotSearch) {
  OpenCVHaarDetectObjects haar("haar");
  cv::CascadeClassifier nothing;
  cv::Mat twoChannels(200, 200, CV_8UC2, cv::Scalar(1, 2));
  // What a frame publishes: nil, or an empty structure, and whether the patch reported an error.
  const auto run = [&]() -> std::string {
    const std::string report = test::stderrOf([&] { EXPECT_TRUE(execute(haar)); });
    if (!haar.outputRects.structureValue()) return "nil";
    if (!rectanglesOf(haar, kFrame).empty()) return "objects";
    return report.find("OpenCVHaarDetectObjects: ") == std::string::npos ? "empty" : "reported";
  };
  // Without a cascade, with a failed load's box holding null, or without an image: nil, and no
  // work image is made.
  const auto before = ImageBuffer::allocationCount();
  test::feed(haar.inputImage, &megamind(150));
  EXPECT_EQ(run(), "nil");
  use(haar, nullptr);
  EXPECT_EQ(run(), "nil");
  use(haar, &frontalFace());
  test::feed(haar.inputImage, nullptr);
  EXPECT_EQ(run(), "nil");
  EXPECT_EQ(ImageBuffer::allocationCount(), before);
  // Two channels, a reduced size of 1 × 0 or 0 × 0: an empty structure; a cascade that holds
  // nothing, which the detector refuses: an empty structure and the detector's report.
  test::feed(haar.inputImage, &twoChannels);
  EXPECT_EQ(run(), "empty");
  test::feed(haar.inputImage, &megamind(150));
  haar.inputImageScale.setDoubleValue(600.0);
  EXPECT_EQ(run(), "empty");
  haar.inputImageScale.setDoubleValue(INFINITY);
  EXPECT_EQ(run(), "empty");
  haar.inputImageScale.setDoubleValue(2.1);
  use(haar, &nothing);
  EXPECT_EQ(run(), "reported");
}

// The JSON lines of the face example's first 30 frames, with OpenCV on `threads` threads.
std::vector<std::string> faceLines(int threads) {
  QCNodeManager manager;
  registerHostPatches(manager);
  OpenCVPlugin::registerNodesWithManager(manager);
  const auto engine = Engine::fromFile(test::example("face-detect.json"), manager);
  std::vector<std::string> lines;
  engine->addObserver([&](const FrameResult& frame) { lines.push_back(frame.jsonLine()); });
  const int before = cv::getNumThreads();
  cv::setNumThreads(threads);
  engine->run(30);
  cv::setNumThreads(before);
  return lines;
}

// The detector gathers its candidates on several threads in whatever order they finish; the
// lines of five runs on all cores, and of one on more threads than cores, are byte for byte
// those of a run on one thread, with several faces in many frames.
TEST(OpenCVHaarDetectObjects, PublishesTheSameLinesOnEveryRunWhateverTheThreadCount) {
  const std::vector<std::string> alone = faceLines(1);
  ASSERT_EQ(alone.size(), 30u);
  const auto several = std::count_if(alone.begin(), alone.end(), [](const std::string& line) {
    return nlohmann::json::parse(line)["faces.outputRects"].size() > 1;
  });
  EXPECT_GE(several, 5);
  for (int run = 0; run < 5; ++run) {
    EXPECT_EQ(faceLines(cv::getNumberOfCPUs()), alone) << "run " << run;
  }
  EXPECT_EQ(faceLines(4 * cv::getNumberOfCPUs()), alone);
}

// Where the faces are in the pictures, as seen in them.
TEST(OpenCVHaarDetectObjects, FindsTheFacesWhereTheyAre) {
  OpenCVHaarDetectObjects haar("haar");
  use(haar, &frontalFace());
  for (const auto& [frame, face] :
       {std::pair{150, cv::Rect(400, 190, 170, 170)}, {200, cv::Rect(250, 90, 340, 320)}}) {
    test::feed(haar.inputImage, &megamind(frame));
    ASSERT_TRUE(execute(haar));
    const std::vector<cv::Rect> rects = rectanglesOf(haar, kFrame);
    ASSERT_EQ(rects.size(), 1u) << frame;
    EXPECT_TRUE(face.contains((rects[0].tl() + rects[0].br()) / 2)) << frame << ": " << rects[0];
    EXPECT_GT(rects[0].width, face.width * 0.7) << frame;
    EXPECT_LT(rects[0].width, face.width * 1.3) << frame;
  }
}

}  // namespace
}  // namespace cvcomp
