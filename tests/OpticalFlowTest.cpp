#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVCalcOpticalFlowPyrLK.hpp"
#include "features/OpenCVGoodFeaturesToTrack.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp {
namespace {

using test::execute;

cv::Mat grayPicture(const std::string& name, cv::Size size = {}) {
  cv::Mat gray;
  cv::cvtColor(test::samplePicture(name), gray, cv::COLOR_BGR2GRAY);
  if (!size.empty()) cv::resize(gray, gray, size, 0, 0, cv::INTER_AREA);
  return gray;
}

// `image` moved by (dx, dy) pixels.
cv::Mat shifted(const cv::Mat& image, double dx, double dy) {
  const cv::Mat move = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
  cv::Mat moved;
  cv::warpAffine(image, moved, move, image.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
  return moved;
}

std::vector<cv::Point2f> strongCorners(const cv::Mat& gray, int count) {
  std::vector<cv::Point2f> corners;
  cv::goodFeaturesToTrack(gray, corners, count, 0.01, 10.0, cv::noArray(), 7, false, 0.04);
  return corners;
}

// A point list of pixel positions, as the feature finder publishes it.
std::shared_ptr<QCStructure> pointList(const std::vector<cv::Point2f>& pixels, cv::Size size,
                                       const std::string& word = "Point") {
  auto list = std::make_shared<QCStructure>();
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const cv::Point2f unit = centredUnit(pixels[i], size);
    auto point = std::make_shared<QCStructure>();
    point->addMember(QCNumber::withDouble(unit.x), "X");
    point->addMember(QCNumber::withDouble(unit.y), "Y");
    list->addMember(std::move(point), numberedKey(word, i));
  }
  return list;
}

// Where the tracker places a pixel position that it loads from a point list: the pixel read back
// from the centred units, in single precision.
std::vector<cv::Point2f> loaded(const std::vector<cv::Point2f>& pixels, cv::Size size) {
  const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
  std::vector<cv::Point2f> result;
  for (const cv::Point2f& pixel : pixels) {
    const cv::Point2f unit = centredUnit(pixel, size);
    const float yw = static_cast<float>(double{unit.y} * size.width / size.height);
    result.emplace_back((unit.x + 1.0f) * w * 0.5f, (yw + 1.0f) * h * 0.5f);
  }
  return result;
}

// What the tracker publishes for a pixel position: single precision, aspect ratio applied last.
cv::Point2f published(cv::Point2f pixel, cv::Size size) {
  const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
  const float r = h / w;
  return {(pixel.x + w * -0.5f) / (w * 0.5f), ((pixel.y + h * -0.5f) / (h * 0.5f)) * r};
}

struct Tracked {
  QCNumber x, y, px, py;
};

// The tracker's output by point index; fails on members other than the four numbers.
std::map<std::size_t, Tracked> trackedPoints(const QCStructure& output) {
  std::map<std::size_t, Tracked> result;
  for (const auto& [key, member] : output.members()) {
    EXPECT_EQ(key.substr(0, 5), "Point");
    const QCStructure* point = output.structureForKey(key);
    EXPECT_NE(point, nullptr);
    if (!point) continue;
    std::vector<std::string> names;
    for (const auto& entry : point->members()) names.push_back(entry.first);
    EXPECT_EQ(names, (std::vector<std::string>{"X", "Y", "pX", "pY"})) << key;
    result[std::stoul(key.substr(5))] = {*point->numberForKey("X"), *point->numberForKey("Y"),
                                         *point->numberForKey("pX"), *point->numberForKey("pY")};
  }
  return result;
}

struct Tracker {
  OpenCVCalcOpticalFlowPyrLK patch{"tracker"};
  cv::Mat frame;

  // Runs one frame with the given signals; returns the output.
  std::shared_ptr<QCStructure> run(const cv::Mat& image, bool replace = false, bool add = false) {
    frame = image;
    test::feed(patch.inputImage, frame);
    patch.inputUseInputPointsSignal.setBooleanValue(replace);
    patch.inputAddInputPointsSignal.setBooleanValue(add);
    EXPECT_TRUE(execute(patch));
    return patch.outputPoints.structureValue();
  }
  void connect(std::shared_ptr<QCStructure> points) {
    patch.inputPoints.setStructureValue(std::move(points));
  }
  std::map<std::size_t, Tracked> track(const cv::Mat& image, bool replace = false,
                                       bool add = false) {
    const std::shared_ptr<QCStructure> output = run(image, replace, add);
    EXPECT_NE(output, nullptr);
    return output ? trackedPoints(*output) : std::map<std::size_t, Tracked>{};
  }
};

// OpenCV's own tracking of `from` in `previous` into `current`, with the patch's values.
struct DirectFlow {
  std::vector<cv::Point2f> to;
  std::vector<unsigned char> status;
};
DirectFlow directFlow(const cv::Mat& previous, const cv::Mat& current,
                      const std::vector<cv::Point2f>& from, int window = 21) {
  DirectFlow flow;
  std::vector<float> error;
  cv::calcOpticalFlowPyrLK(previous, current, from, flow.to, flow.status, error,
                           cv::Size(window, window), 3,
                           cv::TermCriteria(3, 20, static_cast<double>(0.03f)), 0);
  return flow;
}

// Every published entry equals OpenCV's result: lost points at 1.0, the others at the tracked
// and the start positions.
void expectDirect(const std::map<std::size_t, Tracked>& output, const DirectFlow& flow,
                  const std::vector<cv::Point2f>& from, cv::Size size) {
  ASSERT_EQ(output.size(), from.size());
  for (std::size_t i = 0; i < from.size(); ++i) {
    const Tracked& t = output.at(i);
    const cv::Point2f now = flow.status[i] ? published(flow.to[i], size) : cv::Point2f(1, 1);
    const cv::Point2f before = flow.status[i] ? published(from[i], size) : cv::Point2f(1, 1);
    EXPECT_EQ(t.x, QCNumber::withFloat(now.x)) << i;
    EXPECT_EQ(t.y, QCNumber::withFloat(now.y)) << i;
    EXPECT_EQ(t.px, QCNumber::withFloat(before.x)) << i;
    EXPECT_EQ(t.py, QCNumber::withFloat(before.y)) << i;
  }
}

TEST(OpenCVCalcOpticalFlowPyrLK, FollowsARealClipExactlyAsOpenCVDoes) {
  cv::VideoCapture clip(test::sample("vtest.avi").string());
  ASSERT_TRUE(clip.isOpened());
  OpenCVGoodFeaturesToTrack features("features");
  features.inputMaxPoints.setIndexValue(200);
  Tracker tracker;
  tracker.patch.inputExcludeNaNs.setBooleanValue(false);

  cv::Mat colour, gray, previous;
  std::vector<cv::Point2f> expected;
  std::uint64_t allocations = 0;
  for (int frame = 0; frame < 60 && clip.read(colour); ++frame) {
    cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
    test::feed(features.inputImage, gray);
    features.inputFindSignal.setBooleanValue(frame == 0);
    ASSERT_TRUE(execute(features));
    tracker.connect(features.outputPoints.structureValue());
    const std::shared_ptr<QCStructure> output = tracker.run(gray, frame == 0);
    if (frame == 0) {
      // Loaded on the first frame, which becomes the previous frame: nothing to publish yet.
      EXPECT_EQ(output, nullptr);
      expected = loaded(strongCorners(gray, 200), gray.size());
      ASSERT_EQ(expected.size(), 200u);
    } else {
      ASSERT_NE(output, nullptr) << frame;
      const DirectFlow flow = directFlow(previous, gray, expected);
      expectDirect(trackedPoints(*output), flow, expected, gray.size());
      expected = flow.to;
      // From the first tracked frame on, frames allocate no image buffers.
      if (frame == 1) allocations = ImageBuffer::allocationCount();
      EXPECT_EQ(ImageBuffer::allocationCount(), allocations) << frame;
    }
    gray.copyTo(previous);
  }
}

// Each frame's pyramid is kept as the next frame's previous pyramid. Whatever replaces the
// previous frame or the window (a new window size, a frame without image, another size) must
// not track against a stale pyramid: every output stays bit-identical to OpenCV tracking the two
// frames from scratch.
TEST(OpenCVCalcOpticalFlowPyrLK, KeptPyramidsTrackBitIdenticallyToFreshOnes) {
  cv::VideoCapture clip(test::sample("vtest.avi").string());
  ASSERT_TRUE(clip.isOpened());
  Tracker tracker;
  tracker.patch.inputExcludeNaNs.setBooleanValue(false);
  cv::Mat colour, gray, previous;
  std::vector<cv::Point2f> expected;
  int tracked = 0;
  for (int frame = 0; frame < 40 && clip.read(colour); ++frame) {
    cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
    // Half-windows 10, then 4 from frame 12, then 10 again from frame 20.
    const int half = frame >= 12 && frame < 20 ? 4 : 10;
    tracker.patch.inputWindowSize.setIndexValue(static_cast<std::size_t>(half));
    if (frame == 0) {
      tracker.connect(pointList(strongCorners(gray, 300), gray.size()));
      expected = loaded(strongCorners(gray, 300), gray.size());
    }
    if (frame == 28) {
      // No image: the previous frame is dropped, the next one is only kept.
      tracker.patch.inputImage.setCvObjectValue(nullptr);
      ASSERT_TRUE(execute(tracker.patch));
    }
    const std::shared_ptr<QCStructure> output = tracker.run(gray, frame == 0);
    if (frame == 0 || frame == 28) {
      EXPECT_EQ(output, nullptr) << frame;
    } else {
      ASSERT_NE(output, nullptr) << frame;
      const DirectFlow flow = directFlow(previous, gray, expected, 2 * half + 1);
      expectDirect(trackedPoints(*output), flow, expected, gray.size());
      expected = flow.to;
      ++tracked;
    }
    gray.copyTo(previous);
  }
  EXPECT_EQ(tracked, 38);
}

TEST(OpenCVCalcOpticalFlowPyrLK, FollowsSubPixelShiftsOfAPhoto) {
  const cv::Mat photo = grayPicture("building.jpg");
  cv::Mat first = photo.clone();
  OpenCVGoodFeaturesToTrack features("features");
  test::feed(features.inputImage, first);
  features.inputFindSignal.setBooleanValue(true);
  ASSERT_TRUE(execute(features));
  const std::vector<cv::Point2f> start = strongCorners(photo, 50);
  ASSERT_EQ(start.size(), 50u);

  Tracker tracker;
  tracker.connect(features.outputPoints.structureValue());
  EXPECT_EQ(tracker.run(first, true), nullptr);
  const cv::Size size = photo.size();
  const double w = size.width, h = size.height;
  for (int frame = 1; frame <= 30; ++frame) {
    const cv::Point2d shift(0.37 * frame, -0.23 * frame);
    const std::map<std::size_t, Tracked> output = tracker.track(shifted(photo, shift.x, shift.y));
    std::size_t following = 0;
    for (const auto& [i, t] : output) {
      const cv::Point2d pixel((t.x.value + 1.0) * w / 2, (t.y.value * w / h + 1.0) * h / 2);
      const cv::Point2d truth = cv::Point2d(start[i]) + shift;
      if (cv::norm(pixel - truth) <= 0.1) ++following;
    }
    EXPECT_GE(following, 45u) << "frame " << frame;
  }
}

TEST(OpenCVCalcOpticalFlowPyrLK, CornerAndCentreRoundTripExactly) {
  const cv::Mat image = grayPicture("baboon.jpg", {320, 240});
  // Pixels (0, 0) and (160, 120), then real corners.
  std::vector<cv::Point2f> pixels{{0.0f, 0.0f}, {160.0f, 120.0f}};
  const std::vector<cv::Point2f> corners = strongCorners(image, 20);
  pixels.insert(pixels.end(), corners.begin(), corners.end());
  const std::shared_ptr<QCStructure> list = pointList(pixels, image.size());
  Tracker tracker;
  tracker.connect(list);
  tracker.run(image, true);
  const std::map<std::size_t, Tracked> output = tracker.track(image);
  ASSERT_EQ(output.size(), list->count());
  EXPECT_EQ(output.at(0).px, QCNumber::withFloat(-1.0f));
  EXPECT_EQ(output.at(0).py, QCNumber::withFloat(-0.75f));
  EXPECT_EQ(output.at(1).px, QCNumber::withFloat(0.0f));
  EXPECT_EQ(output.at(1).py, QCNumber::withFloat(0.0f));
  for (std::size_t i = 2; i < output.size(); ++i) {
    const QCStructure* loaded = list->structureForKey(numberedKey("Point", i));
    EXPECT_NEAR(output.at(i).px.value, loaded->numberForKey("X")->value, 1e-6) << i;
    EXPECT_NEAR(output.at(i).py.value, loaded->numberForKey("Y")->value, 1e-6) << i;
  }

  // Corner keys are not point keys: every point reads as the centre.
  tracker.connect(pointList(corners, image.size(), "Corner"));
  tracker.run(image);
  const std::map<std::size_t, Tracked> centred = tracker.track(image, true);
  EXPECT_EQ(centred.size(), corners.size());
  for (const auto& [i, t] : centred) {
    EXPECT_EQ(t.px, QCNumber::withFloat(0.0f)) << i;
    EXPECT_EQ(t.py, QCNumber::withFloat(0.0f)) << i;
  }
}

TEST(OpenCVCalcOpticalFlowPyrLK, LoadsOnRisingEdgesOnly) {
  const cv::Mat image = grayPicture("baboon.jpg", {320, 240});
  const std::vector<cv::Point2f> corners = strongCorners(image, 10);
  ASSERT_EQ(corners.size(), 10u);
  const std::vector<cv::Point2f> seven(corners.begin(), corners.begin() + 7);
  const std::vector<cv::Point2f> three(corners.begin() + 7, corners.end());
  const cv::Point2f a = published(corners[0], image.size());
  const cv::Point2f b = published(corners[7], image.size());
  auto startOf = [](const Tracked& t) { return cv::Point2d(t.px.value, t.py.value); };
  auto near = [](cv::Point2d p, cv::Point2f q) { return cv::norm(p - cv::Point2d(q)) < 1e-5; };

  Tracker tracker;
  tracker.connect(pointList(seven, image.size()));
  EXPECT_EQ(tracker.run(image, true), nullptr);
  // Held YES with new points connected: no reload.
  tracker.connect(pointList(three, image.size()));
  std::map<std::size_t, Tracked> output = tracker.track(image, true);
  ASSERT_EQ(output.size(), 7u);
  EXPECT_TRUE(near(startOf(output.at(0)), a));
  // Falling and rising: reload, with another count.
  output = tracker.track(image);
  output = tracker.track(image, true);
  ASSERT_EQ(output.size(), 3u);
  EXPECT_TRUE(near(startOf(output.at(0)), b));

  // Replace with as many points as are tracked overwrites all start positions.
  tracker.connect(pointList(std::vector<cv::Point2f>(three.rbegin(), three.rend()), image.size()));
  output = tracker.track(image);
  output = tracker.track(image, true);
  ASSERT_EQ(output.size(), 3u);
  EXPECT_TRUE(near(startOf(output.at(2)), b));

  // Append after replace: the new points follow under the next keys.
  tracker.connect(pointList(seven, image.size()));
  output = tracker.track(image);
  output = tracker.track(image, true);
  tracker.connect(pointList(three, image.size()));
  output = tracker.track(image, false, true);
  ASSERT_EQ(output.size(), 10u);
  EXPECT_TRUE(near(startOf(output.at(0)), a));
  EXPECT_TRUE(near(startOf(output.at(7)), b));
  // Held append does nothing more.
  EXPECT_EQ(tracker.track(image, false, true).size(), 10u);

  // Replace and append on one frame: only the replace; the append edge is consumed.
  output = tracker.track(image);
  output = tracker.track(image, true, true);
  EXPECT_EQ(output.size(), 3u);
  EXPECT_EQ(tracker.track(image, false, true).size(), 3u);

  // Append with nothing connected: nothing added, tracking goes on, the edge counts as seen.
  tracker.track(image);
  tracker.connect(nullptr);
  EXPECT_EQ(tracker.track(image, false, true).size(), 3u);
  tracker.connect(pointList(seven, image.size()));
  EXPECT_EQ(tracker.track(image, false, true).size(), 3u);
}

TEST(OpenCVCalcOpticalFlowPyrLK, IdleUntilALoadYieldsPoints) {
  const cv::Mat image = grayPicture("baboon.jpg", {320, 240});
  const cv::Mat moved = shifted(image, 0.5, 0.25);
  const std::vector<cv::Point2f> corners = strongCorners(image, 5);
  Tracker tracker;
  EXPECT_EQ(tracker.run(image), nullptr);
  tracker.connect(pointList(corners, image.size()));
  EXPECT_EQ(tracker.run(image, true), nullptr);
  ASSERT_EQ(tracker.track(image).size(), 5u);

  // Replace with nothing connected drops every point; a held signal keeps acting as an edge.
  tracker.connect(nullptr);
  tracker.track(image, false);
  EXPECT_EQ(tracker.run(image, true), nullptr);
  EXPECT_EQ(tracker.run(moved, true), nullptr);
  EXPECT_EQ(tracker.run(moved, true), nullptr);
  // Loaded at last: tracked at once against the last frame seen while there were points.
  tracker.connect(pointList(corners, image.size()));
  const std::map<std::size_t, Tracked> output = tracker.track(moved, true);
  const std::vector<cv::Point2f> start = loaded(corners, image.size());
  expectDirect(output, directFlow(image, moved, start), start, image.size());
}

TEST(OpenCVCalcOpticalFlowPyrLK, LostPointsPublishOnesOrAreLeftOut) {
  const cv::Mat image = grayPicture("baboon.jpg", {320, 240});
  const cv::Mat flat(240, 320, CV_8UC1, cv::Scalar(90));
  std::vector<cv::Point2f> pixels = strongCorners(image, 3);
  ASSERT_EQ(pixels.size(), 3u);
  // The middle point lies far outside the image.
  pixels.insert(pixels.begin() + 1, cv::Point2f(700.0f, 100.0f));

  Tracker tracker;
  tracker.connect(pointList(pixels, image.size()));
  tracker.run(image, true);
  tracker.patch.inputExcludeNaNs.setBooleanValue(true);
  std::map<std::size_t, Tracked> output = tracker.track(image);
  EXPECT_EQ(output.size(), 3u);
  EXPECT_EQ(output.count(1), 0u);
  EXPECT_EQ(output.count(3), 1u);

  tracker.patch.inputExcludeNaNs.setBooleanValue(false);
  output = tracker.track(image);
  ASSERT_EQ(output.size(), 4u);
  EXPECT_EQ(output.at(1).x, QCNumber::withFloat(1.0f));

  // A featureless frame loses every point.
  tracker.track(flat);
  output = tracker.track(flat);
  ASSERT_EQ(output.size(), 4u);
  for (const auto& [i, t] : output) {
    for (const QCNumber& n : {t.x, t.y, t.px, t.py}) EXPECT_EQ(n, QCNumber::withFloat(1.0f)) << i;
  }
  tracker.patch.inputExcludeNaNs.setBooleanValue(true);
  const std::shared_ptr<QCStructure> none = tracker.run(flat);
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->count(), 0u);
}

TEST(OpenCVCalcOpticalFlowPyrLK, RaisesTheWindowSizeToTwo) {
  const cv::Mat image = grayPicture("baboon.jpg", {320, 240});
  const cv::Mat moved = shifted(image, 0.6, -0.3);
  const std::vector<cv::Point2f> corners = strongCorners(image, 30);
  Tracker tracker;
  tracker.patch.inputWindowSize.setIndexValue(0);
  tracker.connect(pointList(corners, image.size()));
  tracker.run(image, true);
  const std::map<std::size_t, Tracked> output = tracker.track(moved);
  EXPECT_EQ(tracker.patch.inputWindowSize.indexValue(), 2u);
  const std::vector<cv::Point2f> start = loaded(corners, image.size());
  expectDirect(output, directFlow(image, moved, start, 5), start, image.size());
}

TEST(OpenCVCalcOpticalFlowPyrLK, FramesThatCannotBeTrackedAgainstThePreviousOne) {
  const cv::Mat image = grayPicture("baboon.jpg", {320, 240});
  const cv::Mat moved = shifted(image, 0.4, 0.2);
  cv::Mat colour;
  cv::cvtColor(moved, colour, cv::COLOR_GRAY2BGR);
  const std::vector<cv::Point2f> corners = strongCorners(image, 8);
  Tracker tracker;
  tracker.connect(pointList(corners, image.size()));
  tracker.run(image, true);
  const std::shared_ptr<QCStructure> last = tracker.run(image);
  ASSERT_NE(last, nullptr);

  // A colour frame changes nothing: the next gray frame is tracked against the one before it,
  // exactly as by a tracker that never saw the colour frame.
  Tracker twin;
  twin.connect(pointList(corners, image.size()));
  twin.run(image, true);
  twin.run(image);
  EXPECT_EQ(tracker.run(colour), last);
  const std::shared_ptr<QCStructure> after = tracker.run(moved);
  ASSERT_NE(after, nullptr);
  EXPECT_NE(after, last);
  const std::map<std::size_t, Tracked> output = trackedPoints(*after);
  const std::map<std::size_t, Tracked> expected = twin.track(moved);
  ASSERT_EQ(output.size(), expected.size());
  for (const auto& [i, t] : expected) {
    EXPECT_EQ(output.at(i).x, t.x) << i;
    EXPECT_EQ(output.at(i).y, t.y) << i;
  }

  // A frame without image publishes nil and drops the previous frame: the next frame is kept
  // and not tracked, the one after is tracked again.
  tracker.patch.inputImage.setCvObjectValue(nullptr);
  EXPECT_TRUE(execute(tracker.patch));
  EXPECT_EQ(tracker.patch.outputPoints.structureValue(), nullptr);
  EXPECT_EQ(tracker.run(image), nullptr);
  EXPECT_EQ(tracker.track(moved).size(), 8u);

  // Another size, or another depth: not tracked, the output stays; tracking resumes after.
  cv::Mat larger = grayPicture("baboon.jpg", {400, 300});
  cv::Mat deep;
  larger.convertTo(deep, CV_16U, 256);
  for (const cv::Mat* other : {&larger, &deep}) {
    const std::shared_ptr<QCStructure> before = tracker.patch.outputPoints.structureValue();
    testing::internal::CaptureStderr();
    EXPECT_EQ(tracker.run(*other), before);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(tracker.track(*other).size(), 8u);
  }
}

TEST(OpenCVCalcOpticalFlowPyrLK, AFailedTrackingLosesEveryPoint) {
  const cv::Mat image = grayPicture("baboon.jpg", {320, 240});
  cv::Mat deep;
  image.convertTo(deep, CV_16U, 256);
  const std::vector<cv::Point2f> corners = strongCorners(image, 6);
  Tracker tracker;
  tracker.connect(pointList(corners, image.size()));
  tracker.run(deep, true);
  // The tracker takes only 8-bit frames: OpenCV reports the error and no point counts as found.
  testing::internal::CaptureStderr();
  std::map<std::size_t, Tracked> output = tracker.track(deep);
  const std::string report = testing::internal::GetCapturedStderr();
  EXPECT_NE(report.find("OpenCVCalcOpticalFlowPyrLK: OpenCV("), std::string::npos) << report;
  ASSERT_EQ(output.size(), 6u);
  for (const auto& [i, t] : output) EXPECT_EQ(t.x, QCNumber::withFloat(1.0f)) << i;

  // The points stay where they were loaded: once the stream is 8-bit again they are found there.
  tracker.run(image);
  output = tracker.track(image);
  ASSERT_EQ(output.size(), 6u);
  for (std::size_t i = 0; i < corners.size(); ++i) {
    EXPECT_NEAR(output.at(i).px.value, published(corners[i], image.size()).x, 1e-6) << i;
    EXPECT_NEAR(output.at(i).py.value, published(corners[i], image.size()).y, 1e-6) << i;
  }
}

}  // namespace
}  // namespace cvcomp
