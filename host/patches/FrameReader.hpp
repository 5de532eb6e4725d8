#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include <opencv2/core.hpp>

#include "host/QCImage.hpp"
#include "host/QCPatch.hpp"

namespace cvcomp {

// A frame source that cannot be opened or read; the message names it.
class FrameSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The largest width and height a frame source gives: twice what the patches take, and far below
// what exhausts the memory (a frame of 8192 × 8192 takes 256 MiB as BGRA). Larger pictures and
// videos are refused before they are decoded.
inline constexpr int kMaxFrameSide = 8192;

// Where frames come from: decoded pictures, one after the other.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // The next frame, 8-bit BGR, or an empty image at the end. Throws FrameSourceError.
  virtual void read(cv::Mat& frame) = 0;
  virtual double framesPerSecond() const { return 30.0; }
  virtual FramePace pace() const { return FramePace::OwnRate; }
  // How many frames it holds, when known.
  virtual std::optional<std::uint64_t> length() const { return std::nullopt; }
  // Makes frame `frame` (counted from 0) the next one read, exactly the picture that reading in
  // order would give. Throws FrameSourceError when the source cannot seek or the frame is not
  // there.
  virtual void seek(std::uint64_t frame);
  // What messages call the source: its file (the picture read last, in a folder) or its name.
  virtual std::string name() const = 0;
};

// Opens `location`: a video file, an image file, a folder of images (taken in name order),
// "camera:N" or "pattern:WxH" (a generated moving test scene). Relative paths resolve against
// `base`. Throws FrameSourceError when it cannot be opened, and refuses a location that holds a
// NUL character, which the system's calls would take as its end.
std::unique_ptr<FrameSource> openFrameSource(const std::string& location,
                                             const std::filesystem::path& base);

// Reads frames from a source one ahead of their use, on a thread of its own, and hands them out
// as host bitmaps (top-down BGRA), so that decoding overlaps the evaluation of the previous frame.
class FrameReader {
 public:
  explicit FrameReader(std::unique_ptr<FrameSource> source);
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;
  ~FrameReader();

  // The next frame, or nothing at the end. Rethrows the source's error, on the caller's thread.
  std::optional<Bitmap> next();
  double framesPerSecond() const { return fps_; }
  FramePace pace() const { return source_->pace(); }
  std::optional<std::uint64_t> length() const { return length_; }
  // Drops the frame read ahead and reads from frame `frame` on; throws FrameSourceError.
  void seek(std::uint64_t frame);

 private:
  void start();
  void stop();
  void decode();

  // One decoded frame waits while the reader decodes the next. Measured against two: with one,
  // the evaluation still waited only for the first frame of a 1920 × 1080 face-detection run, and
  // on the tracking example (50 points) it spent less time waiting in all than with two. A second
  // frame costs its memory (7.9 MiB at 1920 × 1080) and does not lighten the reader, which
  // decodes every frame once either way and so takes the same share of the cores.
  static constexpr std::size_t kAhead = 1;
  std::unique_ptr<FrameSource> source_;
  double fps_;
  std::optional<std::uint64_t> length_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Bitmap> ready_;
  bool ended_ = false;
  bool stopping_ = false;
  std::string error_;
  std::thread thread_;
};

}  // namespace cvcomp
