// The example compositions, run end to end by the cvcomp program on real sample data.

#include <numbers>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"
#include "host/CompositionFile.hpp"
#include "host/patches/HostPatches.hpp"
#include "plugin/OpenCVPlugin.hpp"

namespace cvcomp {
namespace {

using test::cvcomp;
using test::example;
using test::jsonLines;

TEST(Examples, FaceDetectionFindsTheFaceWhereItIs) {
  const test::Outcome outcome =
      cvcomp("run " + example("face-detect.json") + " --frames 40 --json -");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto frames = jsonLines(outcome.out);
  ASSERT_EQ(frames.size(), 40u);
  int framesWithAFace = 0;
  for (const auto& frame : frames) {
    const auto& rects = frame["faces.outputRects"];
    ASSERT_TRUE(rects.is_object());
    framesWithAFace += rects.empty() ? 0 : 1;
    int index = 0;
    for (const auto& [key, rect] : rects.items()) {
      EXPECT_EQ(key, numberedKey("Object", static_cast<std::size_t>(index++)));
      for (const char* member : {"X", "Y", "W", "H"}) EXPECT_TRUE(rect[member].is_number());
    }
  }
  EXPECT_GE(framesWithAFace, 30);
  // Frame 33: the woman's face is centred near pixel (310, 255) of the 720 × 528 picture, which
  // is X −0.14, Y +0.03 in the centred, Y-up unit.
  bool found = false;
  for (const auto& [key, rect] : frames[33]["faces.outputRects"].items()) {
    found |= std::abs(rect["X"].get<double>() + 0.14) < 0.05 &&
             std::abs(rect["Y"].get<double>() - 0.03) < 0.05 && rect["W"].get<double>() > 0.25;
  }
  EXPECT_TRUE(found) << frames[33].dump();
}

TEST(Examples, TheCascadeIsLoadedOnceInALongRun) {
  QCNodeManager manager;
  registerHostPatches(manager);
  OpenCVPlugin::registerNodesWithManager(manager);
  auto composition = loadCompositionFile(example("face-detect.json"), manager);
  setInputFromText(*composition, "src.inputPath", "pattern:160x120");
  composition->start(test::context());
  auto& cascade = static_cast<OpenCVTypePort&>(composition->port("cascade.outputData"));
  std::shared_ptr<OpenCVObject> firstBox;
  for (std::uint64_t frame = 0; frame < 300; ++frame) {
    composition->renderFrame(test::context(), frame, static_cast<double>(frame) / 30.0);
    if (frame == 0) firstBox = cascade.cvObjectValue();
  }
  ASSERT_NE(firstBox, nullptr);
  EXPECT_NE(firstBox->value(), nullptr);
  EXPECT_EQ(cascade.cvObjectValue(), firstBox);
  EXPECT_EQ(composition->executions("cascade"), 1u);
  EXPECT_EQ(composition->executions("faces"), 300u);
  composition->stop(test::context());
}

TEST(Examples, TrackingCarriesEachPointFromFrameToFrame) {
  const test::Outcome outcome =
      cvcomp("run " + example("track-features.json") + " --frames 30 --json -");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto frames = jsonLines(outcome.out);
  ASSERT_EQ(frames.size(), 30u);
  EXPECT_TRUE(frames[0]["tracker.outputPoints"].is_null());
  EXPECT_EQ(frames[1]["tracker.outputPoints"].size(), 200u);
  for (std::size_t f = 2; f < frames.size(); ++f) {
    const auto& now = frames[f]["tracker.outputPoints"];
    const auto& before = frames[f - 1]["tracker.outputPoints"];
    EXPECT_GT(now.size(), 150u) << "frame " << f;
    // Each point starts where it was last seen: its previous position is the last frame's one.
    for (const auto& [key, point] : now.items()) {
      if (!before.contains(key)) continue;
      EXPECT_EQ(point["pX"], before[key]["X"]) << key << " frame " << f;
      EXPECT_EQ(point["pY"], before[key]["Y"]) << key << " frame " << f;
    }
  }
}

TEST(Examples, EdgesAndLinesAgreeWithADirectComputation) {
  const test::Outcome outcome = cvcomp("run " + example("edges-lines.json") + " --json -");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto frames = jsonLines(outcome.out);
  ASSERT_EQ(frames.size(), 1u);
  const auto& published = frames[0]["hough.outputLines"];

  // The same chain by hand: the bridge's row flip, gray, equalize, Canny, Hough segments.
  cv::Mat bgra, flipped, gray, equalized, edges;
  cv::cvtColor(test::samplePicture("building.jpg"), bgra, cv::COLOR_BGR2BGRA);
  cv::flip(bgra, flipped, 0);
  cv::cvtColor(flipped, gray, cv::COLOR_BGRA2GRAY);
  cv::equalizeHist(gray, equalized);
  cv::Canny(equalized, edges, 150.0f, 300.0f, 3);
  std::vector<cv::Vec4i> segments;
  cv::HoughLinesP(edges, segments, 1.0f, static_cast<float>(std::numbers::pi / 180.0), 80, 60.0f,
                  10.0f);
  ASSERT_GT(segments.size(), 20u);
  ASSERT_EQ(published.size(), segments.size());
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const auto& line = published[numberedKey("Line", i)];
    const cv::Point2f a = test::unitOf(cv::Point2f(segments[i][0], segments[i][1]), edges.size());
    const cv::Point2f b = test::unitOf(cv::Point2f(segments[i][2], segments[i][3]), edges.size());
    EXPECT_EQ(line, nlohmann::json({{"X1", a.x}, {"Y1", a.y}, {"X2", b.x}, {"Y2", b.y}})) << i;
  }
}

TEST(Examples, ChessboardFindsEveryBoardOfTheSampleSet) {
  const test::Outcome outcome = cvcomp("run " + example("chessboard.json") + " --json -");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const auto frames = jsonLines(outcome.out);
  ASSERT_EQ(frames.size(), 13u);
  for (const auto& frame : frames) {
    EXPECT_EQ(frame["board.outputCornerCount"], 54) << frame["frame"];
    EXPECT_EQ(frame["board.outputAllFound"], true) << frame["frame"];
    EXPECT_EQ(frame["board.outputCorners"].size(), 54u);
  }
}

TEST(Examples, LogPolarRoundTripLooksLikeItsInput) {
  const test::TempFolder folder;
  const test::Outcome outcome = cvcomp("run " + example("logpolar.json") + " --frames 1 --video " +
                                       (folder / "logpolar.png").string());
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  const cv::Mat roundTrip = cv::imread((folder / "logpolar.png").string(), cv::IMREAD_COLOR);
  cv::VideoCapture clip(test::sample("vtest.avi").string());
  cv::Mat original, shifted;
  ASSERT_TRUE(clip.read(original));
  ASSERT_EQ(roundTrip.size(), original.size());
  // Within a disc around the centre the round trip keeps the picture; a shifted copy does not.
  cv::Mat disc = cv::Mat::zeros(original.size(), CV_8UC1);
  cv::circle(disc, {384, 288}, 200, cv::Scalar(255), cv::FILLED);
  cv::warpAffine(original, shifted, cv::Matx23d(1, 0, 4, 0, 1, 0), original.size());
  const double pixels = 3.0 * cv::countNonZero(disc);
  const double error = cv::norm(roundTrip, original, cv::NORM_L1, disc) / pixels;
  const double shiftError = cv::norm(shifted, original, cv::NORM_L1, disc) / pixels;
  EXPECT_LT(error, 8.0);
  EXPECT_LT(error, shiftError / 2.0) << error << " vs " << shiftError;
}

}  // namespace
}  // namespace cvcomp
