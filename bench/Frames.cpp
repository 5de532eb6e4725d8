#include "Frames.hpp"

#include <filesystem>

#include <opencv2/imgproc.hpp>

#include "host/patches/FrameReader.hpp"

namespace cvcomp::bench {

Bitmap bitmapOf(const cv::Mat& decoded) {
  Bitmap bitmap = Bitmap::allocate(static_cast<std::size_t>(decoded.cols),
                                   static_cast<std::size_t>(decoded.rows));
  cv::cvtColor(decoded, matOf(bitmap),
               decoded.channels() == 1 ? cv::COLOR_GRAY2BGRA : cv::COLOR_BGR2BGRA);
  return bitmap;
}

cv::Mat matOf(const Bitmap& bitmap) {
  return cv::Mat(static_cast<int>(bitmap.height), static_cast<int>(bitmap.width), CV_8UC4,
                 bitmap.data.get(), bitmap.bytesPerRow);
}

std::vector<Bitmap> decodeFrames(const std::string& location, std::size_t count) {
  const std::unique_ptr<FrameSource> source =
      openFrameSource(location, std::filesystem::current_path());
  std::vector<Bitmap> frames;
  cv::Mat decoded;
  while (frames.size() < count) {
    source->read(decoded);
    if (decoded.empty()) break;
    frames.push_back(bitmapOf(decoded));
  }
  // A picture or a short folder yields fewer frames than asked: they are taken again in turn.
  const std::size_t read = frames.size();
  while (read > 0 && frames.size() < count) frames.push_back(frames[frames.size() % read]);
  return frames;
}

}  // namespace cvcomp::bench
