#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "TestSupport.hpp"
#include "filters/LogPolarMap.hpp"
#include "filters/OpenCVLogPolar.hpp"
#include "plugin/ImageBuffer.hpp"

namespace cvcomp {
namespace {

using test::execute;

constexpr double kFullTurn = 2.0 * CV_PI;

// Every pixel holds its own position (column, row): bilinear sampling of it is exact, so a
// transformed ramp shows where each output pixel took its value from.
cv::Mat positionRamp(cv::Size size) {
  cv::Mat_<cv::Vec2f> ramp(size);
  for (int y = 0; y < size.height; ++y) {
    for (int x = 0; x < size.width; ++x) ramp(y, x) = cv::Vec2f(float(x), float(y));
  }
  return ramp;
}

// The difference of two row indices on a circle of `rows` rows.
double rowDistance(double a, double b, int rows) {
  const double d = std::fmod(std::abs(a - b), rows);
  return std::min(d, rows - d);
}

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

// The transformed image of a position ramp of `rampSize`.
cv::Mat_<cv::Vec2f> transformedRamp(cv::Size rampSize, const Setting& setting) {
  cv::Mat ramp = positionRamp(rampSize);
  OpenCVLogPolar logPolar("logPolar");
  configure(logPolar, setting);
  test::feed(logPolar.inputImage, ramp);
  EXPECT_TRUE(execute(logPolar));
  const cv::Mat* out = imageValue(logPolar.outputImage);
  if (!out) return {};
  EXPECT_EQ(out->size(), setting.size);
  return out->clone();
}

// The distance from the centre and the angle in [0, 2π) of an offset (dx, dy).
std::pair<double, double> polar(double dx, double dy) {
  const double angle = std::atan2(dy, dx);
  return {std::hypot(dx, dy), angle < 0 ? angle + kFullTurn : angle};
}

TEST(OpenCVLogPolar, ASourcePixelLandsAtColumnMLnRAndRowAngleTimesHOver2Pi) {
  const Setting setting{{300.5, 200.25}, 33.0, {200, 300}, false};
  const cv::Mat_<cv::Vec2f> out = transformedRamp({640, 480}, setting);
  ASSERT_FALSE(out.empty());
  const cv::Point2d centre = setting.centre;
  const double m = setting.magnitude;

  int checked = 0;
  double worst = 0.0;
  for (int row = 0; row < out.rows; ++row) {
    for (int column = 0; column < out.cols; ++column) {
      // Only pixels whose source lies well inside the picture: near its edge, samples blend
      // with the 0 outside.
      const double radius = std::exp(column / m);
      const double x = centre.x + radius * std::cos(row * kFullTurn / out.rows);
      const double y = centre.y + radius * std::sin(row * kFullTurn / out.rows);
      if (x < 1 || y < 1 || x > 638 || y > 478) continue;
      const cv::Vec2f source = out(row, column);
      const auto [r, angle] = polar(source[0] - centre.x, source[1] - centre.y);
      if (r < 10.0) continue;  // sub-pixel rounding of the sample dominates so close in
      worst = std::max({worst, std::abs(m * std::log(r) - column),
                        rowDistance(angle * out.rows / kFullTurn, row, out.rows)});
      ++checked;
    }
  }
  EXPECT_GT(checked, 20000);
  EXPECT_LT(worst, 0.1);
}

TEST(OpenCVLogPolar, InverseMapsLogPolarFormBackExactly) {
  const cv::Size logPolarSize(256, 200);
  const Setting setting{{320, 240}, 40.0, {640, 480}, true};
  const cv::Mat_<cv::Vec2f> out = transformedRamp(logPolarSize, setting);
  ASSERT_FALSE(out.empty());
  const cv::Point2d centre = setting.centre;
  const double m = setting.magnitude;

  int checked = 0;
  double worst = 0.0;
  for (int y = 0; y < out.rows; ++y) {
    for (int x = 0; x < out.cols; ++x) {
      const auto [r, angle] = polar(x - centre.x, y - centre.y);
      const double column = m * std::log(r);
      const double row = angle * logPolarSize.height / kFullTurn;
      if (r == 0.0 || column < 0 || column > logPolarSize.width - 1 ||
          row > logPolarSize.height - 1) {
        continue;  // no complete neighbourhood in the log-polar source
      }
      const cv::Vec2f source = out(y, x);
      worst = std::max({worst, std::abs(source[0] - column), std::abs(source[1] - row)});
      ++checked;
    }
  }
  EXPECT_GT(checked, 250000);
  EXPECT_LT(worst, 0.05);
  // The centre itself has no source.
  EXPECT_EQ(out(240, 320), cv::Vec2f(0, 0));
}

TEST(OpenCVLogPolar, ForwardThenInverseRestoresThePictureNearTheCentre) {
  cv::Mat picture;
  cv::cvtColor(test::samplePicture("fruits.jpg"), picture, cv::COLOR_BGR2GRAY);
  const cv::Point2d centre(picture.cols / 2, picture.rows / 2);
  OpenCVLogPolar forward("forward");
  OpenCVLogPolar inverse("inverse");
  configure(forward, {centre, 60.0, {400, 512}, false});
  configure(inverse, {centre, 60.0, picture.size(), true});
  test::feed(forward.inputImage, picture);
  ASSERT_TRUE(execute(forward));
  inverse.inputImage.setCvObjectValue(forward.outputImage.cvObjectValue());
  ASSERT_TRUE(execute(inverse));
  const cv::Mat* restored = imageValue(inverse.outputImage);
  ASSERT_NE(restored, nullptr);
  ASSERT_EQ(restored->size(), picture.size());

  // Within a disc around the centre, the round trip stays close to the picture; a shift of a
  // few pixels, for scale, does not.
  cv::Mat disc = cv::Mat::zeros(picture.size(), CV_8UC1);
  cv::circle(disc, cv::Point(centre), 80, cv::Scalar(255), cv::FILLED);
  cv::circle(disc, cv::Point(centre), 3, cv::Scalar(0), cv::FILLED);
  cv::Mat shifted;
  cv::warpAffine(picture, shifted, cv::Matx23d(1, 0, 3, 0, 1, 3), picture.size());
  const double error = cv::norm(*restored, picture, cv::NORM_L1, disc) / cv::countNonZero(disc);
  const double shiftError = cv::norm(shifted, picture, cv::NORM_L1, disc) / cv::countNonZero(disc);
  EXPECT_LT(error, 2.0);
  EXPECT_GT(shiftError, 5 * error);
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
  cv::Mat colour;
  cv::cvtColor(test::samplePicture("fruits.jpg"), colour, cv::COLOR_BGR2BGRA);
  cv::resize(colour, colour, {640, 480});
  cv::Mat larger;
  cv::resize(colour, larger, {700, 650});
  cv::Mat gray;
  cv::cvtColor(larger, gray, cv::COLOR_BGRA2GRAY);

  // Defaults: a 256 × 256 log-polar image of the input's format, M = 40, forward.
  OpenCVLogPolar logPolar("logPolar");
  EXPECT_EQ(logPolar.inputMagnitude.doubleValue(), 40.0);
  EXPECT_FALSE(logPolar.inputInverse.booleanValue());
  logPolar.inputMagnitude.setDoubleValue(0.0);
  EXPECT_EQ(logPolar.inputMagnitude.doubleValue(), 0.01);
  logPolar.inputMagnitude.setDoubleValue(40.0);
  test::feed(logPolar.inputImage, colour);
  ASSERT_TRUE(execute(logPolar));
  const cv::Mat* out = imageValue(logPolar.outputImage);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->size(), cv::Size(256, 256));
  EXPECT_EQ(out->type(), CV_8UC4);
  const uchar* data = out->data;
  const auto box = logPolar.outputImage.cvObjectValue();
  const auto before = ImageBuffer::allocationCount();

  // Input size, centre, magnitude and direction change: the output buffer stays.
  test::feed(logPolar.inputImage, larger);
  configure(logPolar, {{300, 310}, 50.0, {256, 256}, true});
  ASSERT_TRUE(execute(logPolar));
  EXPECT_NE(logPolar.outputImage.cvObjectValue(), box);
  EXPECT_EQ(imageValue(logPolar.outputImage)->data, data);
  EXPECT_EQ(ImageBuffer::allocationCount(), before);

  // A channel change or another requested size: a new buffer.
  test::feed(logPolar.inputImage, gray);
  ASSERT_TRUE(execute(logPolar));
  EXPECT_EQ(imageValue(logPolar.outputImage)->type(), CV_8UC1);
  EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
  logPolar.inputWidth.setIndexValue(100);
  ASSERT_TRUE(execute(logPolar));
  EXPECT_EQ(imageValue(logPolar.outputImage)->size(), cv::Size(100, 256));

  // Nil on a zero size or without input, and on an extent beyond any image, which OpenCV
  // refuses (rather than it wrapping round to a small size); disable releases as well.
  constexpr std::size_t kBeyondInt = std::size_t{1} << 32;
  auto releasedBy = [&](auto&& makeUnsuitable, bool givesNil, std::uint64_t remade = 2) {
    ASSERT_TRUE(execute(logPolar));
    makeUnsuitable();
    if (givesNil) {
      ASSERT_TRUE(execute(logPolar));
      EXPECT_EQ(logPolar.outputImage.cvObjectValue(), nullptr);
    }
    test::feed(logPolar.inputImage, gray);
    logPolar.inputWidth.setIndexValue(100);
    logPolar.inputHeight.setIndexValue(256);
    const auto count = ImageBuffer::allocationCount();
    ASSERT_TRUE(execute(logPolar));
    EXPECT_NE(imageValue(logPolar.outputImage), nullptr);
    // The output and the remap table are made anew.
    EXPECT_EQ(ImageBuffer::allocationCount(), count + remade);
  };
  releasedBy([&] { logPolar.inputWidth.setIndexValue(0); }, true);
  releasedBy([&] { logPolar.inputHeight.setIndexValue(0); }, true);
  releasedBy([&] { logPolar.inputImage.setCvObjectValue(nullptr); }, true);
  releasedBy([&] { logPolar.disable(test::context()); }, false);
  testing::internal::CaptureStderr();
  // The error ends the frame before the table is needed: the last one stays valid.
  releasedBy([&] { logPolar.inputWidth.setIndexValue(kBeyondInt + 100); }, true, 1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("OpenCVLogPolar: OpenCV("),
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
  const LogPolarGeometry changes[] = {{{321, 240}, 40, {640, 480}, {256, 256}, false},
                                      {{320, 241}, 40, {640, 480}, {256, 256}, false},
                                      {{320, 240}, 41, {640, 480}, {256, 256}, false},
                                      {{320, 240}, 40, {640, 400}, {256, 256}, false},
                                      {{320, 240}, 40, {640, 480}, {256, 200}, false},
                                      {{320, 240}, 40, {640, 480}, {256, 256}, true}};
  std::uint64_t builds = 1;
  for (const LogPolarGeometry& changed : changes) {
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
