#pragma once

#include <cstdint>
#include <optional>

#include <opencv2/core.hpp>

#include "plugin/ImageBuffer.hpp"

namespace cvcomp {

// What a log-polar remap table depends on.
struct LogPolarGeometry {
  cv::Point2f centre;  // the pole, in pixels of the Cartesian image (column x, row y)
  float magnitude;     // M: the log-polar column of radius r is M · ln(r)
  cv::Size source;     // the image that is sampled
  cv::Size target;     // the image that is produced
  bool inverse;        // false: Cartesian to log-polar; true: log-polar back to Cartesian

  bool operator==(const LogPolarGeometry&) const = default;
};

// The remap table of a log-polar transform: for every target pixel, the source position that
// cv::remap samples. In log-polar form the column is M · ln(r) of the distance r from the centre
// and the rows span one full turn of the angle. The table is computed only when the geometry
// changes, not for every frame.
class LogPolarMap {
 public:
  // A two-channel float table of the target size, for cv::remap.
  const cv::Mat& table(const LogPolarGeometry& geometry);
  void release();

  // How many times a table was computed; frames with an unchanged geometry add none.
  std::uint64_t builds() const { return builds_; }

 private:
  ImageBuffer table_;
  std::optional<LogPolarGeometry> geometry_;
  std::uint64_t builds_ = 0;
};

}  // namespace cvcomp
