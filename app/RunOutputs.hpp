#pragma once

#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "FrameWriter.hpp"
#include "host/Engine.hpp"

namespace cvcomp {

// What a run writes: the JSON lines of its frames and its first published picture as a video or
// pictures. Each produced frame is written whole or not at all; another thread may close the
// outputs at any time (a run abandoned on a stop signal), after which frames are not written.
class RunOutputs {
 public:
  // Opens the JSON lines ("-": standard output); a failure names the file.
  // `picture` is the published picture port that goes to the video, if any.
  std::optional<std::string> open(const std::optional<std::string>& json,
                                  const std::optional<std::string>& video, double fps,
                                  std::optional<std::string> picture);

  // Writes the frame; the failure, naming the file, after which nothing more is written.
  std::optional<std::string> write(const FrameResult& frame, QCImageManager& images);
  // Finishes what was written: flushes the lines, closes the video. The failure, if any.
  std::optional<std::string> close();

 private:
  std::mutex mutex_;
  bool closed_ = false;
  std::optional<std::string> jsonName_;
  std::ofstream jsonFile_;
  std::ostream* json_ = nullptr;
  std::unique_ptr<FrameWriter> video_;
  std::optional<std::string> picture_;
};

}  // namespace cvcomp
