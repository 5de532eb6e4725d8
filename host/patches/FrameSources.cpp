// The kinds of frame source that ImageSource reads.

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "FrameReader.hpp"
#include "PictureSize.hpp"
#include "host/Log.hpp"
#include "host/Quoted.hpp"
#include "host/TextValues.hpp"

namespace cvcomp {

namespace {

namespace fs = std::filesystem;

bool isPictureFile(const fs::path& path) {
  static const std::array<std::string, 11> extensions{
      ".jpg", ".jpeg", ".png", ".bmp", ".tif", ".tiff", ".webp", ".ppm", ".pgm", ".pbm", ".jp2"};
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

// Why a frame of `width` × `height` pixels is refused, or nothing when it is not.
std::optional<std::string> sizeRefusal(std::uint64_t width, std::uint64_t height) {
  const auto most = static_cast<std::uint64_t>(kMaxFrameSide);
  if (width <= most && height <= most) return std::nullopt;
  return std::to_string(width) + " × " + std::to_string(height) + " pixels, more than the " +
         std::to_string(most) + " × " + std::to_string(most) + " a frame may have";
}

class VideoSource final : public FrameSource {
 public:
  // Refuses a video whose frames are too large, before any is decoded.
  // `live` for a camera, whose frames come as they happen and cannot be sought.
  VideoSource(cv::VideoCapture capture, std::string name, bool live)
      : capture_(std::move(capture)), name_(std::move(name)), live_(live) {
    const auto dimension = [this](int property) {
      const double value = capture_.get(property);
      return std::isfinite(value) && value > 0.0 ? static_cast<std::uint64_t>(value) : 0;
    };
    if (const auto refusal =
            sizeRefusal(dimension(cv::CAP_PROP_FRAME_WIDTH), dimension(cv::CAP_PROP_FRAME_HEIGHT)))
      throw FrameSourceError(name_ + ": " + *refusal);
  }

  void read(cv::Mat& frame) override {
    if (!capture_.read(frame)) {
      if (frames_ == 0) throw FrameSourceError(name_ + ": no frame could be read");
      frame.release();
      return;
    }
    ++frames_;
  }

  double framesPerSecond() const override {
    const double fps = capture_.get(cv::CAP_PROP_FPS);
    return std::isfinite(fps) && fps > 0.0 ? fps : FrameSource::framesPerSecond();
  }

  std::string name() const override { return name_; }
  FramePace pace() const override { return live_ ? FramePace::Live : FramePace::OwnRate; }

  std::optional<std::uint64_t> length() const override {
    const double count = capture_.get(cv::CAP_PROP_FRAME_COUNT);
    if (live_ || !std::isfinite(count) || count < 1.0) return std::nullopt;
    return static_cast<std::uint64_t>(count);
  }

  // FFmpeg's own seek lands on the frame asked for on the sample clips, at a fraction of the
  // cost of decoding from the start; where it does not say it landed there, the file is opened
  // again and the frames before are grabbed without being converted.
  void seek(std::uint64_t frame) override {
    if (live_) FrameSource::seek(frame);
    const auto target = static_cast<double>(frame);
    if (!capture_.set(cv::CAP_PROP_POS_FRAMES, target) ||
        capture_.get(cv::CAP_PROP_POS_FRAMES) != target) {
      capture_.open(name_, cv::CAP_FFMPEG);
      for (std::uint64_t skipped = 0; skipped < frame; ++skipped) {
        if (!capture_.grab())
          throw FrameSourceError(name_ + ": no frame " + std::to_string(frame) + " to seek to");
      }
    }
    frames_ = frame;
  }

 private:
  cv::VideoCapture capture_;
  std::string name_;
  bool live_;
  std::size_t frames_ = 0;
};

// One picture file (no folder), or the pictures of a folder in name order.
class PictureSource final : public FrameSource {
 public:
  PictureSource(std::vector<fs::path> files, fs::path folder)
      : files_(std::move(files)), folder_(std::move(folder)) {}

  void read(cv::Mat& frame) override {
    while (next_ < files_.size()) {
      const fs::path& file = files_[next_++];
      const std::optional<std::string> problem = decode(file, frame);
      if (!problem) {
        ++read_;
        return;
      }
      if (folder_.empty()) throw FrameSourceError(file.string() + ": " + *problem);
      // One bad picture in a folder does not end the run.
      logMessage(LogLevel::Warning, {}, "skipping " + file.string() + ": " + *problem);
    }
    if (read_ == 0)
      throw FrameSourceError(folder_.string() + ": no picture in the folder can be read");
    frame.release();
  }

  std::string name() const override { return files_[next_ == 0 ? 0 : next_ - 1].string(); }
  FramePace pace() const override { return FramePace::Pictures; }
  std::optional<std::uint64_t> length() const override { return files_.size(); }

  void seek(std::uint64_t frame) override {
    if (frame >= files_.size())
      throw FrameSourceError(name() + ": no frame " + std::to_string(frame) + " to seek to");
    next_ = frame;
    read_ = frame;
  }

 private:
  // Decodes `file` into `frame`, unless its header declares a size too large; says why not.
  static std::optional<std::string> decode(const fs::path& file, cv::Mat& frame) {
    const std::optional<PictureSize> size = pictureSize(file);
    if (!size) return "not a readable picture";
    if (auto refusal = sizeRefusal(size->width, size->height)) return refusal;
    frame = cv::imread(file.string(), cv::IMREAD_COLOR);
    // OpenCV's JPEG reader gives what it can of a file cut short; its other readers give nothing.
    if (frame.empty())
      return "the picture's pixels cannot be decoded: the file is damaged or cut short";
    return std::nullopt;
  }

  std::vector<fs::path> files_;
  fs::path folder_;
  std::size_t next_ = 0;
  std::size_t read_ = 0;
};

// A moving test scene with something for every patch: a calibration board, straight edges,
// textured corners to track and a bright disc.
class PatternSource final : public FrameSource {
 public:
  PatternSource(cv::Size size, std::string name)
      : size_(size), texture_(size, CV_8UC3), name_(std::move(name)) {
    cv::RNG rng(12345);
    for (int y = 0; y < size.height; ++y) {
      for (int x = 0; x < size.width; ++x) {
        const auto shade = static_cast<uchar>(60 + (x * 80) / std::max(1, size.width));
        texture_.at<cv::Vec3b>(y, x) =
            cv::Vec3b(shade, static_cast<uchar>(90),
                      static_cast<uchar>(40 + (y * 60) / std::max(1, size.height)));
      }
    }
    for (int i = 0; i < 60; ++i) {
      const cv::Point corner(rng.uniform(0, size.width), rng.uniform(0, size.height));
      const int side = std::max(2, size.width / 60);
      cv::rectangle(texture_, corner, corner + cv::Point(side, side),
                    cv::Scalar(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255)),
                    cv::FILLED);
    }
  }

  void read(cv::Mat& frame) override {
    const double t = static_cast<double>(frame_++);
    const int shift = static_cast<int>(t) % std::max(1, size_.width);
    frame.create(size_, CV_8UC3);
    // The texture drifts to the right, wrapping around.
    if (shift > 0)
      texture_.colRange(size_.width - shift, size_.width).copyTo(frame.colRange(0, shift));
    texture_.colRange(0, size_.width - shift).copyTo(frame.colRange(shift, size_.width));

    const int square = std::max(2, std::min(size_.width, size_.height) / 16);
    const cv::Point board(size_.width / 10 + static_cast<int>(square * std::sin(t / 25.0)),
                          size_.height / 8 + static_cast<int>(square * std::cos(t / 40.0)));
    for (int row = 0; row < 7; ++row) {
      for (int column = 0; column < 10; ++column) {
        const cv::Point corner = board + cv::Point(column * square, row * square);
        const bool white = (row + column) % 2 == 0;
        cv::rectangle(frame, corner, corner + cv::Point(square - 1, square - 1),
                      white ? cv::Scalar(255, 255, 255) : cv::Scalar(0, 0, 0), cv::FILLED);
      }
    }
    const cv::Point centre(size_.width * 3 / 4, size_.height / 2);
    const double angle = t / 50.0;
    const double reach = std::min(size_.width, size_.height) / 4.0;
    const cv::Point tip(centre.x + static_cast<int>(reach * std::cos(angle)),
                        centre.y + static_cast<int>(reach * std::sin(angle)));
    cv::line(frame, centre * 2 - tip, tip, cv::Scalar(255, 255, 255), std::max(1, square / 4));
    const cv::Point disc(static_cast<int>(size_.width * (0.5 + 0.3 * std::sin(t / 60.0))),
                         size_.height * 4 / 5);
    cv::circle(frame, disc, std::max(2, square / 2), cv::Scalar(0, 220, 255), cv::FILLED);
  }

  std::string name() const override { return name_; }

 private:
  cv::Size size_;
  cv::Mat texture_;
  std::string name_;
  std::size_t frame_ = 0;
};

std::unique_ptr<FrameSource> openPattern(std::string_view size, const std::string& location) {
  const std::size_t cross = size.find('x');
  const auto width = wholeNumber(size.substr(0, cross));
  const auto height =
      cross == std::string_view::npos ? std::nullopt : wholeNumber(size.substr(cross + 1));
  const auto most = static_cast<std::uint64_t>(kMaxFrameSide);
  if (!width || !height || *width < 1 || *height < 1 || *width > most || *height > most) {
    const std::string side = std::to_string(kMaxFrameSide);
    throw FrameSourceError(location + ": a pattern needs a size WxH from 1x1 to " + side + "x" +
                           side);
  }
  return std::make_unique<PatternSource>(
      cv::Size(static_cast<int>(*width), static_cast<int>(*height)), location);
}

std::unique_ptr<FrameSource> openCamera(std::string_view number, const std::string& location) {
  const auto index = wholeNumber(number);
  if (!index || *index > std::numeric_limits<int>::max())
    throw FrameSourceError(location + ": a camera is named camera:N");
  // V4L2 is the camera interface here; asking it alone spares probing every other back-end.
  cv::VideoCapture capture(static_cast<int>(*index), cv::CAP_V4L2);
  if (!capture.isOpened()) throw FrameSourceError(location + ": the camera cannot be opened");
  return std::make_unique<VideoSource>(std::move(capture), location, true);
}

std::unique_ptr<FrameSource> openFolder(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
       entry.increment(error)) {
    // An entry that cannot be resolved (a loop of links, a folder on the way that cannot be
    // searched) is skipped; one that names nothing, a dangling link, is no picture.
    std::error_code entryError;
    const fs::file_status status = entry->status(entryError);
    if (status.type() == fs::file_type::none) {
      logMessage(LogLevel::Warning, {},
                 "skipping " + entry->path().string() + ": " + entryError.message());
    } else if (fs::is_regular_file(status) && isPictureFile(entry->path())) {
      files.push_back(entry->path());
    }
  }
  if (error) throw FrameSourceError(folder.string() + ": " + error.message());
  if (files.empty()) throw FrameSourceError(folder.string() + ": the folder holds no pictures");
  std::sort(files.begin(), files.end());
  return std::make_unique<PictureSource>(std::move(files), folder);
}

}  // namespace

std::unique_ptr<FrameSource> openFrameSource(const std::string& location, const fs::path& base) {
  if (location.find('\0') != std::string::npos)
    throw FrameSourceError(withNulShown(location) + ": a path holds a NUL character");
  const std::string_view text(location);
  if (text.starts_with("pattern:")) return openPattern(text.substr(8), location);
  if (text.starts_with("camera:")) return openCamera(text.substr(7), location);
  if (text.empty()) throw FrameSourceError("no input: the path is empty");

  const fs::path path = resolvedPath(location, base);
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::none)
    throw FrameSourceError(path.string() + ": " + error.message());
  if (!fs::exists(status)) throw FrameSourceError(path.string() + ": no such file or folder");
  if (fs::is_directory(status)) return openFolder(path);
  // Opening a FIFO waits for a writer, and a device may never answer: inputs are files, folders,
  // cameras (camera:N) and patterns.
  if (!fs::is_regular_file(status)) {
    throw FrameSourceError(path.string() +
                           ": not a regular file (a FIFO, socket or device); a camera is camera:N");
  }
  if (isPictureFile(path)) return std::make_unique<PictureSource>(std::vector{path}, fs::path());

  // FFmpeg alone: it reads every clip that the other backends read, and a file it cannot open
  // then gives one message instead of every backend's attempts.
  cv::VideoCapture capture(path.string(), cv::CAP_FFMPEG);
  if (!capture.isOpened()) throw FrameSourceError(path.string() + ": cannot be opened as a video");
  return std::make_unique<VideoSource>(std::move(capture), path.string(), false);
}

}  // namespace cvcomp
