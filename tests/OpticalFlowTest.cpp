

#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVCalcOpticalFlowPyrLK.hpp"
#include "features/OpenCVGoodFeaturesToTrack.hpp"

namespace cvcomp {
namespace {

using test::execute;
// A tracked point as published: X, Y, pX, pY.
using Points = std::map<std::size_t, cv::Vec4f>;

cv::Mat shifted(const cv::Mat& image, double dx, double dy) {
  cv::Mat moved;
  cv::warpAffine(image, moved, cv::Matx23d(1, 0, dx, 0, 1, dy), image.size(), cv::INTER_LINEAR,
                 cv::BORDER_REFLECT);
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
    const cv::Point2f unit = test::unitOf(pixels[i], size);
    auto point = std::make_shared<QCStructure>();
    point->addMember(QCNumber::withDouble(unit.x), "X");
    point->addMember(QCNumber::withDouble(unit.y), "Y");
    list->addMember(std::move(point), numberedKey(word, i));
  }
  return list;
}

// Where the tracker places pixel positions that it loads from a point list: the pixels read
// back from the centred units, in single precision.
std::vector<cv::Point2f> loaded(const std::vector<cv::Point2f>& pixels, cv::Size size) {
  const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
  std::vector<cv::Point2f> result;
  for (const cv::Point2f& pixel : pixels) {
    const cv::Point2f unit = test::unitOf(pixel, size);
    const float yw = static_cast<float>(double{unit.y} * size.width / size.height);
    result.emplace_back((unit.x + 1.0f) * w * 0.5f, (yw + 1.0f) * h * 0.5f);
  }
  return result;
}

// What the tracker publishes for a pixel position: single precision, aspect ratio applied last.
cv::Point2f published(cv::Point2f pixel, cv::Size size) {
  const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
  return {(pixel.x + w * -0.5f) / (w * 0.5f), ((pixel.y + h * -0.5f) / (h * 0.5f)) * (h / w)};
}

Points pointsOf(const std::shared_ptr<QCStructure>& output) {
  return test::fourNumbers(output, "Point", "XYpXpY");
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
  Points track(const cv::Mat& image, bool replace = false, bool add = false) {
    const std::shared_ptr<QCStructure> output = run(image, replace, add);
    EXPECT_NE(output, nullptr);
    return pointsOf(output);
  }
  void connect(std::shared_ptr<QCStructure> points) {
    patch.inputPoints.setStructureValue(std::move(points));
  }
};

// OpenCV's own tracking of `from` in `previous` into `current` with the patch's values equals
// the output: lost points at 1.0, the others at the tracked and the start positions. Returns the
// tracked pixel positions.
std::vector<cv::Point2f> expectDirect(const Points& output, const cv::Mat& previous,
                                      const cv::Mat& current, const std::vector<cv::Point2f>& from,
                                      int window = 21) {
  std::vector<cv::Point2f> to;
  std::vector<unsigned char> found;
  std::vector<float> error;
  cv::calcOpticalFlowPyrLK(previous, current, from, to, found, error, cv::Size(window, window), 3,
                           cv::TermCriteria(3, 20, static_cast<double>(0.03f)), 0);
  EXPECT_EQ(output.size(), from.size());
  for (std::size_t i = 0; i < from.size() && output.count(i); ++i) {
    const cv::Point2f now = published(to[i], current.size());
    const cv::Point2f start = published(from[i], current.size());
    EXPECT_EQ(output.at(i),
              found[i] ? cv::Vec4f(now.x, now.y, start.x, start.y) : cv::Vec4f::all(1))
        << i;
  }
  return to;
}

TEST(OpenCVCalcOpticalFlowPyrLK, FollowsARealClipExactlyAsOpenCVDoes) {
  cv::VideoCapture clip(test::sample("vtest.avi").string());
  OpenCVGoodFeaturesToTrack features("features");
  features.inputMaxPoints.setIndexValue(200);
  Tracker tracker;
  tracker.patch.inputExcludeNaNs.setBooleanValue(false);
  cv::Mat colour, gray, previous;
  std::vector<cv::Point2f> expected;
  std::uint64_t allocations = 0;
  for (int frame = 0; frame < 20 && clip.read(colour); ++frame) {
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
      expected = expectDirect(pointsOf(output), previous, gray, expected);
      // From the first tracked frame on, frames allocate no image buffers.
      if (frame == 1) allocations = ImageBuffer::allocationCount();
      EXPECT_EQ(ImageBuffer::allocationCount(), allocations) << frame;
    }
    gray.copyTo(previous);
  }
  EXPECT_EQ(expected.size(), 200u);
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
      expected = expectDirect(pointsOf(output), previous, gray, expected, 2 * half + 1);
      ++tracked;
    }
    gray.copyTo(previous);
  }
  EXPECT_EQ(tracked, 38);
}

TEST(OpenCVCalcOpticalFlowPyrLK, FollowsSubPixelShiftsOfAPhoto) {
  const cv::Mat photo = test::grayPicture("building.jpg");
  const std::vector<cv::Point2f> start = strongCorners(photo, 50);
  ASSERT_EQ(start.size(), 50u);
  Tracker tracker;
  tracker.connect(pointList(start, photo.size()));
  EXPECT_EQ(tracker.run(photo, true), nullptr);
  const double w = photo.cols, h = photo.rows;
  for (int frame = 1; frame <= 30; ++frame) {
    const cv::Point2d shift(0.37 * frame, -0.23 * frame);
    std::size_t following = 0;
    for (const auto& [i, t] : tracker.track(shifted(photo, shift.x, shift.y))) {
      const cv::Point2d pixel((t[0] + 1.0) * w / 2, (t[1] * w / h + 1.0) * h / 2);
      following += cv::norm(pixel - (cv::Point2d(start[i]) + shift)) <= 0.1;
    }
    EXPECT_GE(following, 45u) << "frame " << frame;
  }
}

TEST(OpenCVCalcOpticalFlowPyrLK, ReadsPointListsAsPublishedAndCornerListsAsCentres) {
  const cv::Mat image = test::grayPicture("baboon.jpg", {320, 240});
  // Pixels (0, 0) and (160, 120), then real corners.
  std::vector<cv::Point2f> pixels{{0.0f, 0.0f}, {160.0f, 120.0f}};
  const std::vector<cv::Point2f> corners = strongCorners(image, 20);
  pixels.insert(pixels.end(), corners.begin(), corners.end());
  const std::shared_ptr<QCStructure> list = pointList(pixels, image.size());
  Tracker tracker;
  tracker.connect(list);
  tracker.run(image, true);
  const Points output = tracker.track(image);
  ASSERT_EQ(output.size(), list->count());
  EXPECT_EQ(output.at(0)[2], -1.0f);
  EXPECT_EQ(output.at(0)[3], -0.75f);
  EXPECT_EQ(output.at(1)[2], 0.0f);
  EXPECT_EQ(output.at(1)[3], 0.0f);
  for (std::size_t i = 2; i < output.size(); ++i) {
    const QCStructure* point = list->structureForKey(numberedKey("Point", i));
    EXPECT_NEAR(output.at(i)[2], point->numberForKey("X")->value, 1e-6) << i;
    EXPECT_NEAR(output.at(i)[3], point->numberForKey("Y")->value, 1e-6) << i;
  }
  // Corner keys are not point keys: every point reads as the centre.
  tracker.connect(pointList(corners, image.size(), "Corner"));
  tracker.run(image);
  const Points centred = tracker.track(image, true);
  EXPECT_EQ(centred.size(), corners.size());
  for (const auto& [i, t] : centred) EXPECT_EQ(cv::Vec2f(t[2], t[3]), cv::Vec2f(0, 0)) << i;
}

TEST(OpenCVCalcOpticalFlowPyrLK, LoadsOnRisingEdgesOnly) {
  const cv::Mat image = test::grayPicture("baboon.jpg", {320, 240});
  const std::vector<cv::Point2f> corners = strongCorners(image, 10);
  ASSERT_EQ(corners.size(), 10u);
  const std::vector<cv::Point2f> seven(corners.begin(), corners.begin() + 7);
  const std::vector<cv::Point2f> three(corners.begin() + 7, corners.end());
  // The start position of the output's point `i` is that of corner `c`.
  auto startsAt = [&](const Points& output, std::size_t i, std::size_t c) {
    const cv::Point2f p = published(corners[c], image.size());
    return output.count(i) && cv::norm(cv::Point2f(output.at(i)[2], output.at(i)[3]) - p) < 1e-5;
  };
  Tracker tracker;
  tracker.connect(pointList(seven, image.size()));
  EXPECT_EQ(tracker.run(image, true), nullptr);
  // Held YES with new points connected: no reload.
  tracker.connect(pointList(three, image.size()));
  Points output = tracker.track(image, true);
  EXPECT_EQ(output.size(), 7u);
  EXPECT_TRUE(startsAt(output, 0, 0));
  // Falling and rising: reload, with another count.
  tracker.track(image);
  output = tracker.track(image, true);
  EXPECT_EQ(output.size(), 3u);
  EXPECT_TRUE(startsAt(output, 0, 7));
  // Replace with as many points as are tracked overwrites all start positions.
  tracker.connect(pointList({three.rbegin(), three.rend()}, image.size()));
  tracker.track(image);
  EXPECT_TRUE(startsAt(tracker.track(image, true), 2, 7));
  // Append after replace: the new points follow under the next keys; a held append adds nothing.
  tracker.connect(pointList(seven, image.size()));
  tracker.track(image);
  tracker.track(image, true);
  tracker.connect(pointList(three, image.size()));
  output = tracker.track(image, false, true);
  EXPECT_EQ(output.size(), 10u);
  EXPECT_TRUE(startsAt(output, 0, 0) && startsAt(output, 7, 7));
  EXPECT_EQ(tracker.track(image, false, true).size(), 10u);
  // Replace and append on one frame: only the replace; the append edge is consumed.
  tracker.track(image);
  EXPECT_EQ(tracker.track(image, true, true).size(), 3u);
  EXPECT_EQ(tracker.track(image, false, true).size(), 3u);
  // Append with nothing connected: nothing added, tracking goes on, the edge counts as seen.
  tracker.track(image);
  tracker.connect(nullptr);
  EXPECT_EQ(tracker.track(image, false, true).size(), 3u);
  tracker.connect(pointList(seven, image.size()));
  EXPECT_EQ(tracker.track(image, false, true).size(), 3u);
}

TEST(OpenCVCalcOpticalFlowPyrLK, IdleUntilALoadYieldsPointsWithTheWindowRaisedToTwo) {
  const cv::Mat image = test::grayPicture("baboon.jpg", {320, 240});
  const cv::Mat moved = shifted(image, 0.5, 0.25);
  const std::vector<cv::Point2f> corners = strongCorners(image, 30);
  Tracker tracker;
  tracker.patch.inputWindowSize.setIndexValue(0);
  EXPECT_EQ(tracker.run(image), nullptr);
  tracker.connect(pointList(corners, image.size()));
  EXPECT_EQ(tracker.run(image, true), nullptr);
  EXPECT_EQ(tracker.track(image).size(), 30u);
  EXPECT_EQ(tracker.patch.inputWindowSize.indexValue(), 2u);
  // Replace with nothing connected drops every point; a held signal keeps acting as an edge.
  tracker.connect(nullptr);
  tracker.track(image, false);
  EXPECT_EQ(tracker.run(image, true), nullptr);
  EXPECT_EQ(tracker.run(moved, true), nullptr);
  EXPECT_EQ(tracker.run(moved, true), nullptr);
  // Loaded at last: tracked at once against the last frame seen while there were points, with a
  // window of 2 · 2 + 1.
  tracker.connect(pointList(corners, image.size()));
  expectDirect(tracker.track(moved, true), image, moved, loaded(corners, image.size()), 5);
}

TEST(OpenCVCalcOpticalFlowPyrLK, LostPointsPublishOnesOrAreLeftOut) {
  const cv::Mat image = test::grayPicture("baboon.jpg", {320, 240});
  const cv::Mat flat(240, 320, CV_8UC1, cv::Scalar(90));
  std::vector<cv::Point2f> pixels = strongCorners(image, 3);
  // The middle point lies far outside the image.
  pixels.insert(pixels.begin() + 1, cv::Point2f(700.0f, 100.0f));
  Tracker tracker;
  tracker.connect(pointList(pixels, image.size()));
  tracker.run(image, true);
  tracker.patch.inputExcludeNaNs.setBooleanValue(true);
  Points output = tracker.track(image);
  EXPECT_EQ(output.size(), 3u);
  EXPECT_EQ(output.count(1), 0u);
  tracker.patch.inputExcludeNaNs.setBooleanValue(false);
  EXPECT_EQ(tracker.track(image).at(1), cv::Vec4f::all(1));
  // A featureless frame loses every point: all at 1.0, or an empty structure.
  tracker.track(flat);
  EXPECT_EQ(tracker.track(flat), (Points{{0, cv::Vec4f::all(1)},
                                         {1, cv::Vec4f::all(1)},
                                         {2, cv::Vec4f::all(1)},
                                         {3, cv::Vec4f::all(1)}}));
  tracker.patch.inputExcludeNaNs.setBooleanValue(true);
  EXPECT_TRUE(tracker.track(flat).empty());
}

TEST(OpenCVCalcOpticalFlowPyrLK, FramesThatCannotBeTrackedAgainstThePreviousOne) {
  const cv::Mat image = test::grayPicture("baboon.jpg", {320, 240});
  const cv::Mat moved = shifted(image, 0.4, 0.2);
  cv::Mat colour, deep;
  cv::cvtColor(moved, colour, cv::COLOR_GRAY2BGR);
  image.convertTo(deep, CV_16U, 256);
  const std::vector<cv::Point2f> corners = strongCorners(image, 8);
  Tracker tracker;
  tracker.connect(pointList(corners, image.size()));
  tracker.run(image, true);
  const std::shared_ptr<QCStructure> last = tracker.run(image);
  const std::vector<cv::Point2f> still =
      expectDirect(pointsOf(last), image, image, loaded(corners, image.size()));
  // A colour frame changes nothing: the next gray frame is tracked against the one before it.
  EXPECT_EQ(tracker.run(colour), last);
  expectDirect(tracker.track(moved), image, moved, still);
  // A frame without image publishes nil and drops the previous frame: the next frame is kept
  // and not tracked, the one after is tracked again.
  test::feed(tracker.patch.inputImage, nullptr);
  EXPECT_TRUE(execute(tracker.patch));
  EXPECT_EQ(tracker.patch.outputPoints.structureValue(), nullptr);
  EXPECT_EQ(tracker.run(image), nullptr);
  EXPECT_EQ(tracker.track(moved).size(), 8u);
  // 16-bit frames: not tracked against an 8-bit one, the output stays; tracked against each
  // other, OpenCV refuses them with its report and every point is lost.
  const std::shared_ptr<QCStructure> before = tracker.patch.outputPoints.structureValue();
  EXPECT_EQ(test::stderrOf([&] { EXPECT_EQ(tracker.run(deep), before); }), "");
  EXPECT_NE(test::stderrOf([&] {
              EXPECT_EQ(tracker.track(deep).at(7), cv::Vec4f::all(1));
            }).find("OpenCVCalcOpticalFlowPyrLK: OpenCV("),
            std::string::npos);
}

}  // namespace
}  // namespace cvcomp
