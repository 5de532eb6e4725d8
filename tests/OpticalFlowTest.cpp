// The Lucas–Kanade tracker against OpenCV's own tracking, its load signals and lost points, and
// point lists that no feature finder would publish: NaN, infinite, huge and far-outside
// coordinates, and ten thousand points at once.

#include <limits>

#include <opencv2/video/tracking.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"
#include "features/OpenCVCalcOpticalFlowPyrLK.hpp"

namespace cvcomp {
namespace {

using test::execute;
// A tracked point as published: X, Y, pX, pY.
using Points = std::map<std::size_t, cv::Vec4d>;
const cv::Vec4d kLost = cv::Vec4d::all(1);

cv::Mat shifted(const cv::Mat& image, double dx, double dy) {
  cv::Mat moved;
  cv::warpAffine(image, moved, cv::Matx23d(1, 0, dx, 0, 1, dy), image.size(), cv::INTER_LINEAR,
                 cv::BORDER_REFLECT);
  return moved;
}

// A point list of centred unit positions under the keys "Point0000", ...
std::shared_ptr<QCStructure> unitList(const std::vector<cv::Point2d>& units) {
  auto list = std::make_shared<QCStructure>();
  for (std::size_t i = 0; i < units.size(); ++i) {
    auto point = std::make_shared<QCStructure>();
    point->addMember(QCNumber::withDouble(units[i].x), "X");
    point->addMember(QCNumber::withDouble(units[i].y), "Y");
    list->addMember(std::move(point), numberedKey("Point", i));
  }
  return list;
}

// A point list of pixel positions, as the feature finder publishes it.
std::shared_ptr<QCStructure> pointList(const std::vector<cv::Point2f>& pixels, cv::Size size) {
  std::vector<cv::Point2d> units;
  for (const cv::Point2f& pixel : pixels) units.emplace_back(centredUnit(pixel, size));
  return unitList(units);
}

Points pointsOf(const std::shared_ptr<QCStructure>& output) {
  return test::fourNumbers(output, "Point", "XYpXpY");
}

struct Tracker {
  OpenCVCalcOpticalFlowPyrLK patch{"tracker"};
  cv::Mat fed;  // the frame on the image input

  // Runs one frame with the given signals; returns the output.
  std::shared_ptr<QCStructure> run(const cv::Mat& image, bool replace = false, bool add = false) {
    fed = image;
    test::feed(patch.inputImage, &fed);
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
  // Connects the point list of `pixels` of a `size` image; returns where the tracker will place
  // them when it loads them.
  std::vector<cv::Point2f> connect(const std::vector<cv::Point2f>& pixels, cv::Size size) {
    connect(pointList(pixels, size));
    std::vector<cv::Point2f> loaded;
    for (cv::Point2f p : pixels) loaded.push_back(pixelOfCentredUnit(centredUnit(p, size), size));
    return loaded;
  }
};

// A tracker, and a textured picture to track on.
class Tracking : public testing::Test, public Tracker {
 protected:
  // Loads `units` into a fresh tracker and tracks them into the picture moved 2 pixels right and
  // 1 down, which moves a followed point by 1/80 in X and 1/160 in Y.
  Points trackMoved(const std::vector<cv::Point2d>& units, bool excludeLost) const {
    Tracker tracker;
    tracker.patch.inputExcludeNaNs.setBooleanValue(excludeLost);
    tracker.connect(unitList(units));
    EXPECT_EQ(tracker.run(image, true), nullptr);
    return tracker.track(shifted(image, 2, 1));
  }

  const cv::Mat image = test::grayPicture("baboon.jpg", {320, 240});
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
    const cv::Point2f now = centredUnitByAspect(to[i], current.size());
    const cv::Point2f start = centredUnitByAspect(from[i], current.size());
    EXPECT_EQ(output.at(i), found[i] ? cv::Vec4d(now.x, now.y, start.x, start.y) : kLost) << i;
  }
  return to;
}

// Each frame's pyramid is kept as the next frame's previous pyramid. Whatever replaces the
// previous frame or the window (a new window size, a frame without image, another size) must
// not track against a stale pyramid: every output stays bit-identical to OpenCV tracking the two
// frames from scratch.
TEST_F(Tracking, KeptPyramidsTrackBitIdenticallyToFreshOnes) {
  cv::VideoCapture clip(test::sample("vtest.avi").string());
  cv::Mat colour, gray, previous;
  std::vector<cv::Point2f> expected;
  for (int frame = 0; frame < 40; ++frame) {
    ASSERT_TRUE(clip.read(colour)) << frame;
    cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
    // Half-windows 10, then 4 from frame 12, then 10 again from frame 20.
    const int half = frame >= 12 && frame < 20 ? 4 : 10;
    patch.inputWindowSize.setIndexValue(static_cast<std::size_t>(half));
    if (frame == 0) expected = connect(test::goodCorners(gray, 300), gray.size());
    if (frame == 28) {
      // No image: the previous frame is dropped, the next one is only kept.
      patch.inputImage.setCvObjectValue(nullptr);
      ASSERT_TRUE(execute(patch));
    }
    const std::shared_ptr<QCStructure> output = run(gray, frame == 0);
    if (frame == 0 || frame == 28) {
      EXPECT_EQ(output, nullptr) << frame;
    } else {
      expected = expectDirect(pointsOf(output), previous, gray, expected, 2 * half + 1);
    }
    gray.copyTo(previous);
  }
}

TEST_F(Tracking, LoadsOnRisingEdgesOnly) {
  const std::vector<cv::Point2f> corners = test::goodCorners(image, 10);
  ASSERT_EQ(corners.size(), 10u);
  const auto corner = [&](char digit) { return corners[static_cast<std::size_t>(digit - '0')]; };
  // Frame by frame on the same picture: the corners on the points input by index (none: nil), the
  // two signals, and the corners where the output's points started.
  for (const auto& [connected, replace, add, starts] :
       {std::tuple<std::string, bool, bool, std::string>{"0123456", true, false, ""},
        // Held YES with new points connected: no reload.
        {"789", true, false, "0123456"},
        // Falling and rising: reload, with another count.
        {"789", false, false, "0123456"},
        {"789", true, false, "789"},
        // Replace with as many points as are tracked overwrites all start positions.
        {"987", false, false, "789"},
        {"987", true, false, "987"},
        // Append after replace: the new points follow under the next keys; a held append adds
        // nothing.
        {"0123456", false, false, "987"},
        {"0123456", true, false, "0123456"},
        {"789", false, true, "0123456789"},
        {"789", false, true, "0123456789"},
        // Replace and append on one frame: only the replace; the append edge is consumed.
        {"789", false, false, "0123456789"},
        {"789", true, true, "789"},
        {"789", false, true, "789"},
        // Append with nothing connected: nothing added, tracking goes on, the edge counts as
        // seen.
        {"789", false, false, "789"},
        {"", false, true, "789"},
        {"0123456", false, true, "789"}}) {
    std::vector<cv::Point2f> points;
    for (char digit : connected) points.push_back(corner(digit));
    connect(points.empty() ? nullptr : pointList(points, image.size()));
    const Points output = pointsOf(run(image, replace, add));
    ASSERT_EQ(output.size(), starts.size()) << connected << replace << add << starts;
    for (std::size_t i = 0; i < starts.size(); ++i) {
      const cv::Point2d start(centredUnitByAspect(corner(starts[i]), image.size()));
      EXPECT_LT(cv::norm(cv::Point2d(output.at(i)[2], output.at(i)[3]) - start), 1e-5)
          << starts << i;
    }
  }
}

TEST_F(Tracking, IdleUntilALoadYieldsPointsWithTheWindowRaisedToTwo) {
  const cv::Mat moved = shifted(image, 0.5, 0.25);
  const std::vector<cv::Point2f> corners = test::goodCorners(image, 30);
  patch.inputWindowSize.setIndexValue(0);
  EXPECT_EQ(run(image), nullptr);
  connect(corners, image.size());
  EXPECT_EQ(run(image, true), nullptr);
  EXPECT_EQ(track(image).size(), 30u);
  EXPECT_EQ(patch.inputWindowSize.indexValue(), 2u);
  // Replace with nothing connected drops every point; a held signal keeps acting as an edge.
  connect(nullptr);
  track(image, false);
  EXPECT_EQ(run(image, true), nullptr);
  EXPECT_EQ(run(moved, true), nullptr);
  EXPECT_EQ(run(moved, true), nullptr);
  // Loaded at last: tracked at once against the last frame seen while there were points, with a
  // window of 2 · 2 + 1.
  const std::vector<cv::Point2f> loaded = connect(corners, image.size());
  expectDirect(track(moved, true), image, moved, loaded, 5);
}

bool follows(const cv::Vec4d& point, cv::Point2d start) {
  return std::abs(point[0] - start.x - 1.0 / 80) < 0.003 &&
         std::abs(point[1] - start.y - 1.0 / 160) < 0.003;
}

TEST_F(Tracking, UnusableCoordinatesAreLostAndTenThousandOthersTracked) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  // Point 1 is the only usable one of the first ten; the last three of them lie far outside the
  // picture. The grid after them lies mostly on texture that moved as a whole.
  std::vector<cv::Point2d> units{
      {kNaN, 0.0},   {0.1, 0.05},    {0.0, kNaN},   {kInfinity, 0.0}, {0.0, -kInfinity},
      {1e30, -1e30}, {1e300, 1e300}, {50.0, -40.0}, {-1.5, 0.0},      {0.0, 2.0},
  };
  for (int k = 0; k < 100 * 100; ++k) {
    units.emplace_back(-0.9 + 1.8 * (k % 100) / 99.0, (-0.9 + 1.8 * (k / 100) / 99.0) * 0.75);
  }
  const Points output = trackMoved(units, false);
  ASSERT_EQ(output.size(), units.size());
  std::size_t followed = 0;
  for (const auto& [i, point] : output) {
    EXPECT_TRUE(i >= 10 || (point == kLost) == (i != 1)) << "point " << i;
    followed += follows(point, units[i]);
  }
  EXPECT_TRUE(follows(output.at(1), units[1])) << output.at(1);
  EXPECT_GT(followed, 7500u);
  // Left out, the lost points take their keys with them; the tracked ones keep their own.
  Points kept = output;
  std::erase_if(kept, [](const auto& point) { return point.second == kLost; });
  EXPECT_EQ(trackMoved(units, true), kept);
}

TEST_F(Tracking, FramesThatCannotBeTrackedAgainstThePreviousOne) {
  const cv::Mat moved = shifted(image, 0.4, 0.2);
  cv::Mat colour, deep;
  cv::cvtColor(moved, colour, cv::COLOR_GRAY2BGR);
  image.convertTo(deep, CV_16U, 256);
  const std::vector<cv::Point2f> loaded = connect(test::goodCorners(image, 8), image.size());
  run(image, true);
  const std::shared_ptr<QCStructure> last = run(image);
  const std::vector<cv::Point2f> still = expectDirect(pointsOf(last), image, image, loaded);
  // A colour frame changes nothing: the next gray frame is tracked against the one before it.
  EXPECT_EQ(run(colour), last);
  expectDirect(track(moved), image, moved, still);
  // 16-bit frames: not tracked against an 8-bit one, the output stays; tracked against each
  // other, OpenCV refuses them with its report and every point is lost.
  const std::shared_ptr<QCStructure> before = patch.outputPoints.structureValue();
  EXPECT_EQ(test::stderrOf([&] { EXPECT_EQ(run(deep), before); }), "");
  EXPECT_TRUE(test::reportsOpenCVError("OpenCVCalcOpticalFlowPyrLK",
                                       [&] { EXPECT_EQ(track(deep).at(7), kLost); }));
}

}  // namespace
}  // namespace cvcomp
