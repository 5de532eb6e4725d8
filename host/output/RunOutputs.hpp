#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "FrameWriter.hpp"
#include "OutputFile.hpp"
#include "host/Engine.hpp"

namespace cvcomp {

// What a run writes: the JSON lines of its frames and its first published picture as a video or
// pictures. Another thread may close the outputs at any time (a run abandoned on a stop signal);
// frames are not written after that. Every failure names the file, and ends the writing.
class RunOutputs {
 public:
  // Opens the JSON lines ("-": standard output) and the video writer; `picture` is the published
  // picture port that goes to the video.
  std::optional<std::string> open(const std::optional<std::string>& json,
                                  const std::optional<std::string>& video, double fps,
                                  std::optional<std::string> picture);
  // Writes the frame's line, then its picture.
  std::optional<std::string> write(const FrameResult& frame);
  // Closes the video with its index, then the lines. The first failure, if any.
  std::optional<std::string> close();

 private:
  std::mutex mutex_;
  bool closed_ = false;
  std::optional<OutputFile> json_;
  std::optional<FrameWriter> video_;
  std::optional<std::string> picture_;
};

}  // namespace cvcomp
