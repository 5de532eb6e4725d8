
#include <optional>

#include "TestSupport.hpp"
#include "filters/LogPolarMap.hpp"
#include "filters/OpenCVLogPolar.hpp"

namespace cvcomp {
namespace {

using test::execute;

constexpr double kFullTurn = 2.0 * CV_PI;

struct Setting {
  cv::Point2d centre;
  double magnitude;
  cv::Size size;
  bool inverse;
};

void configure(OpenCVLogPolar& patch, const Setting& setting) {
  patch.inputCenterX.setDoubleValue(setting.centre.x);
  patch.inputCenterY.setDoubleValue(setting.centre.y);
  patch.inputMagnitude.setDoubleValue(setting.magnitude);
  patch.inputWidth.setIndexValue(static_cast<std::size_t>(setting.size.width));
  patch.inputHeight.setIndexValue(static_cast<std::size_t>(setting.size.height));
  patch.inputInverse.setBooleanValue(setting.inverse);
}

// Where output pixel `out` must sample a `source`-sized image: in log-polar form column ρ is
// M · ln(r) of the distance r from the centre and row φ is the angle a times H / 2π (H the
// log-polar height), so a source pixel at radius r and angle a lands at column M · ln(r), row
// a · H / 2π. Nothing where the source has no complete neighbourhood.
std::optional<cv::Point2d> sampledAt(cv::Point2d out, const Setting& s, cv::Size source) {
  cv::Point2d at;
  if (!s.inverse) {
    const double r = std::exp(out.x / s.magnitude), angle = out.y * kFullTurn / s.size.height;
    at = s.centre + r * cv::Point2d(std::cos(angle), std::sin(angle));
  } else {
    const cv::Point2d d = out - s.centre;
    const double angle = std::atan2(d.y, d.x);
    if (d == cv::Point2d()) return std::nullopt;
    at = {s.magnitude * std::log(std::hypot(d.x, d.y)),
          (angle < 0 ? angle + kFullTurn : angle) * source.height / kFullTurn};
  }
  if (at.x < 1 || at.y < 1 || at.x > source.width - 2 || at.y > source.height - 2) return {};
  return at;
}

TEST(OpenCVLogPolar, EachPixelComesFromItsLogPolarPositionBothWays) {
  for (const auto& [source, setting] :
       {std::pair{cv::Size(640, 480), Setting{{300.5, 200.25}, 33.0, {200, 300}, false}},
        {cv::Size(256, 200), Setting{{320, 240}, 40.0, {640, 480}, true}}}) {
    // Every pixel holds its own position: bilinear sampling of it is exact, so the transformed
    // ramp shows where each output pixel took its value from.
    cv::Mat_<cv::Vec2f> ramp(source);
    for (int y = 0; y < source.height; ++y) {
      for (int x = 0; x < source.width; ++x) ramp(y, x) = cv::Vec2f(float(x), float(y));
    }
    OpenCVLogPolar logPolar("logPolar");
    configure(logPolar, setting);
    test::feed(logPolar.inputImage, ramp);
    ASSERT_TRUE(execute(logPolar));
    const cv::Mat_<cv::Vec2f> out = *imageValue(logPolar.outputImage);
    ASSERT_EQ(out.size(), setting.size);
    int checked = 0;
    double worst = 0.0;
    for (int y = 0; y < out.rows; ++y) {
      for (int x = 0; x < out.cols; ++x) {
        const std::optional<cv::Point2d> at = sampledAt({double(x), double(y)}, setting, source);
        if (!at) continue;
        worst = std::max(worst, cv::norm(cv::Point2d(out(y, x)[0], out(y, x)[1]) - *at));
        ++checked;
      }
    }
    EXPECT_GT(checked, setting.inverse ? 250000 : 20000);
    EXPECT_LT(worst, 0.05) << setting.inverse;
    // In the inverse, the centre itself has no source.
    EXPECT_TRUE(!setting.inverse || out(240, 320) == cv::Vec2f(0, 0));
  }
}

TEST(OpenCVLogPolar, ACentreOutsideThePictureGivesZeroWhereNoSourceExists) {
  cv::Mat white(480, 640, CV_8UC1, cv::Scalar(255));
  OpenCVLogPolar logPolar("logPolar");
  configure(logPolar, {{-50, -50}, 40.0, {256, 256}, false});
  test::feed(logPolar.inputImage, white);
  ASSERT_TRUE(execute(logPolar));
  const cv::Mat* out = imageValue(logPolar.outputImage);
  ASSERT_NE(out, nullptr);
  // Only angles strictly between 0 and a quarter turn (rows 1 to 63 of 256) point into it.
  EXPECT_EQ(cv::countNonZero(out->row(0)), 0);
  EXPECT_EQ(cv::countNonZero(out->rowRange(64, 256)), 0);
  EXPECT_GT(cv::countNonZero(out->rowRange(1, 64)), 1000);
}

TEST(OpenCVLogPolar, BufferFollowsTheRequestedSizeAndChannelCount) {
  cv::Mat colour = test::bgraPicture("fruits.jpg"), larger, gray;
  cv::resize(colour, larger, {700, 650});
  cv::cvtColor(larger, gray, cv::COLOR_BGRA2GRAY);
  // Defaults: a 256 × 256 log-polar image of the input's format; M is at least 0.01.
  OpenCVLogPolar logPolar("logPolar");
  test::feed(logPolar.inputImage, colour);
  ASSERT_TRUE(execute(logPolar));
  ASSERT_NE(imageValue(logPolar.outputImage), nullptr);
  EXPECT_EQ(imageValue(logPolar.outputImage)->size(), cv::Size(256, 256));
  EXPECT_EQ(imageValue(logPolar.outputImage)->type(), CV_8UC4);
  logPolar.inputMagnitude.setDoubleValue(0.0);
  EXPECT_EQ(logPolar.inputMagnitude.doubleValue(), 0.01);

  // Input size, centre, magnitude and direction change: the output buffer stays.
  const test::Published first(logPolar.outputImage);
  test::feed(logPolar.inputImage, larger);
  configure(logPolar, {{300, 310}, 50.0, {256, 256}, true});
  ASSERT_TRUE(execute(logPolar));
  EXPECT_TRUE(first.reusedBy(logPolar.outputImage));
  // A channel change or another requested size: a new buffer.
  test::feed(logPolar.inputImage, gray);
  ASSERT_TRUE(execute(logPolar));
  EXPECT_EQ(imageValue(logPolar.outputImage)->type(), CV_8UC1);
  EXPECT_EQ(first.allocatedSince(), 1u);
  logPolar.inputWidth.setIndexValue(100);
  ASSERT_TRUE(execute(logPolar));
  EXPECT_EQ(imageValue(logPolar.outputImage)->size(), cv::Size(100, 256));

  // Nil on a zero size or without input, and on an extent beyond any image, which OpenCV
  // refuses (rather than it wrapping round to a small size); disable releases as well. The
  // output and the remap table are made anew, except after the refused extent: the error ends
  // the frame before the table is needed, so the last one stays valid.
  const auto suitable = [&] {
    test::feed(logPolar.inputImage, gray);
    logPolar.inputWidth.setIndexValue(100);
    logPolar.inputHeight.setIndexValue(256);
  };
  for (const auto& unsuitable : std::initializer_list<std::function<void()>>{
           [&] { logPolar.inputWidth.setIndexValue(0); },
           [&] { logPolar.inputHeight.setIndexValue(0); },
           [&] { test::feed(logPolar.inputImage, nullptr); }}) {
    test::expectReleases(logPolar, logPolar.outputImage, suitable, unsuitable, true, 2);
  }
  test::expectReleases(
      logPolar, logPolar.outputImage, suitable, [&] { logPolar.disable(test::context()); }, false,
      2);
  EXPECT_NE(test::stderrOf([&] {
              test::expectReleases(
                  logPolar, logPolar.outputImage, suitable,
                  [&] { logPolar.inputWidth.setIndexValue((std::size_t{1} << 32) + 100); }, true,
                  1);
            }).find("OpenCVLogPolar: OpenCV("),
            std::string::npos);
}

TEST(LogPolarMap, IsComputedOnlyWhenItsGeometryChanges) {
  const LogPolarGeometry geometry{{320, 240}, 40, {640, 480}, {256, 256}, false};
  LogPolarMap map;
  const cv::Mat table = map.table(geometry);
  EXPECT_EQ(table.size(), cv::Size(256, 256));
  EXPECT_EQ(table.type(), CV_32FC2);
  EXPECT_EQ(map.table(geometry).data, table.data);
  EXPECT_EQ(map.builds(), 1u);
  // Each changed field makes a new table, once; coming back makes another.
  std::uint64_t builds = 1;
  for (const LogPolarGeometry& changed :
       {LogPolarGeometry{{321, 240}, 40, {640, 480}, {256, 256}, false},
        {{320, 241}, 40, {640, 480}, {256, 256}, false},
        {{320, 240}, 41, {640, 480}, {256, 256}, false},
        {{320, 240}, 40, {640, 400}, {256, 256}, false},
        {{320, 240}, 40, {640, 480}, {256, 200}, false},
        {{320, 240}, 40, {640, 480}, {256, 256}, true}}) {
    map.table(changed);
    map.table(changed);
    map.table(geometry);
    EXPECT_EQ(map.builds(), builds += 2);
  }
  map.release();
  map.table(geometry);
  EXPECT_EQ(map.builds(), builds + 1);
}

}  // namespace
}  // namespace cvcomp
