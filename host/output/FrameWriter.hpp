#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "OutputFile.hpp"

namespace cvcomp {

// Why FrameWriter takes no video or pictures of this name (the reason, to follow the name in a
// message); nullopt when it takes it. Callable before anything is opened.
std::optional<std::string> videoNameProblem(const std::string& name);

// Whether `file` (a bare file name) is one that the numbered name `pattern` ("f%05d.png", also
// without its folder) gives some frame.
bool isNumberedFrameName(const std::string& pattern, const std::string& file);

// Writes pictures (8-bit gray, BGR or BGRA, rows top-down) to a video file, to numbered pictures
// when the name holds one printf-style frame number ("out/frame%05d.png"), or to one picture (the
// last frame) when the name is that of a picture ("out.png").
//
// Every failure ends in OutputError naming the file, and what was written before stays
// readable: a picture is written whole under a temporary name and only then takes its own, and
// a video is closed with its index. OpenCV's video writer reports no write error (its failed
// writes are dropped, and a video that meets a full disk loses its index), so before each frame
// the writer checks that the file system and the process's file-size limit leave room for the
// frame, uncompressed, and the index; close() then reopens the video and counts its frames.
class FrameWriter {
 public:
  // Throws OutputError for a name that videoNameProblem refuses.
  FrameWriter(std::string name, double fps);
  FrameWriter(const FrameWriter&) = delete;
  FrameWriter& operator=(const FrameWriter&) = delete;

  // Writes one frame. Throws OutputError; a video is closed first.
  void write(const cv::Mat& picture, std::uint64_t frame);
  // Closes a video and checks that it holds every frame written; throws OutputError when not.
  void close();

 private:
  void writePicture(const std::string& file);
  void writeVideoFrame();

  std::string name_;
  std::string extension_;
  bool numbered_;
  bool picture_;
  double fps_;
  cv::VideoWriter video_;
  cv::Size videoSize_;
  cv::Mat bgr_;
  std::vector<unsigned char> encoded_;
  std::uint64_t written_ = 0;
};

}  // namespace cvcomp
