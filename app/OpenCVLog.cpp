#include "OpenCVLog.hpp"

#include <cstdlib>

#include <opencv2/core/utils/logger.hpp>

namespace cvcomp {

void setOpenCVVerbosity(bool verbose) {
  using namespace cv::utils::logging;
  if (verbose) {
    // OpenCV's FFmpeg back end then keeps FFmpeg at its error level, and a level the user asked
    // for in OPENCV_LOG_LEVEL stays.
    if (!std::getenv("OPENCV_LOG_LEVEL")) setLogLevel(LOG_LEVEL_WARNING);
    return;
  }
  setLogLevel(LOG_LEVEL_SILENT);
  // OpenCV's FFmpeg back end reads this each time it opens a video and sets FFmpeg's level from
  // it; -8 is AV_LOG_QUIET.
  setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 1);
}

}  // namespace cvcomp
