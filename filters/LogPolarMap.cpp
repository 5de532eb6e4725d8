#include "LogPolarMap.hpp"

#include <cmath>

namespace cvcomp {

namespace {

constexpr double kFullTurn = 2.0 * CV_PI;

// Where a target pixel without any source samples: outside every image, so remap fills in 0.
const cv::Vec2f kNoSource(-2.0f, -2.0f);

cv::Vec2f sourcePoint(double x, double y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return kNoSource;
  return {static_cast<float>(x), static_cast<float>(y)};
}

// Cartesian to log-polar: column ρ samples the radius exp(ρ / M), row φ the angle φ · 2π / H.
void buildForward(cv::Mat_<cv::Vec2f>& table, const LogPolarGeometry& geometry) {
  for (int row = 0; row < table.rows; ++row) {
    const double angle = row * kFullTurn / table.rows;
    const double cosine = std::cos(angle);
    const double sine = std::sin(angle);
    cv::Vec2f* samples = table[row];
    for (int column = 0; column < table.cols; ++column) {
      const double radius = std::exp(column / static_cast<double>(geometry.magnitude));
      samples[column] =
          sourcePoint(geometry.centre.x + radius * cosine, geometry.centre.y + radius * sine);
    }
  }
}

// Log-polar to Cartesian, the exact inverse: the pixel at radius r and angle a from the centre
// samples column M · ln(r) and row a · H / 2π of the log-polar source of height H. The centre
// itself (r = 0) has no source.
void buildInverse(cv::Mat_<cv::Vec2f>& table, const LogPolarGeometry& geometry) {
  const double rowsPerRadian = geometry.source.height / kFullTurn;
  for (int y = 0; y < table.rows; ++y) {
    cv::Vec2f* samples = table[y];
    const double dy = y - static_cast<double>(geometry.centre.y);
    for (int x = 0; x < table.cols; ++x) {
      const double dx = x - static_cast<double>(geometry.centre.x);
      double angle = std::atan2(dy, dx);
      if (angle < 0.0) angle += kFullTurn;
      samples[x] =
          sourcePoint(geometry.magnitude * std::log(std::hypot(dx, dy)), angle * rowsPerRadian);
    }
  }
}

}  // namespace

const cv::Mat& LogPolarMap::table(const LogPolarGeometry& geometry) {
  if (table_.hasContent() && geometry_ == geometry) return table_.mat();
  cv::Mat_<cv::Vec2f> entries = table_.prepare(geometry.target, CV_32FC2);
  if (geometry.inverse) {
    buildInverse(entries, geometry);
  } else {
    buildForward(entries, geometry);
  }
  table_.markWritten();
  geometry_ = geometry;
  ++builds_;
  return table_.mat();
}

void LogPolarMap::release() {
  table_.release();
  geometry_.reset();
}

}  // namespace cvcomp
