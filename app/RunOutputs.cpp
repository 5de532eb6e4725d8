#include "RunOutputs.hpp"

#include <iostream>

namespace cvcomp {

std::optional<std::string> RunOutputs::open(const std::optional<std::string>& json,
                                            const std::optional<std::string>& video, double fps,
                                            std::optional<std::string> picture) {
  const std::lock_guard lock(mutex_);
  jsonName_ = json;
  picture_ = std::move(picture);
  if (json && *json == "-") {
    json_ = &std::cout;
  } else if (json) {
    jsonFile_.open(*json);
    if (!jsonFile_) return *json + ": cannot be written";
    json_ = &jsonFile_;
  }
  try {
    if (video) video_ = std::make_unique<FrameWriter>(*video, fps);
  } catch (const FrameWriterError& error) {
    return error.what();
  }
  return std::nullopt;
}

std::optional<std::string> RunOutputs::write(const FrameResult& frame, QCImageManager& images) {
  const std::lock_guard lock(mutex_);
  if (closed_) return std::nullopt;
  // Line by line, so that every frame written is in the file whatever ends the run.
  if (json_) *json_ << frame.jsonLine() << '\n' << std::flush;
  if (video_) {
    for (const auto& [path, image] : frame.pictures()) {
      if (path != picture_ || !image) continue;
      try {
        video_->write(*image, images, frame.frame);
      } catch (const FrameWriterError& error) {
        return error.what();
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> RunOutputs::close() {
  const std::lock_guard lock(mutex_);
  if (closed_) return std::nullopt;
  closed_ = true;
  video_.reset();
  if (!json_) return std::nullopt;
  json_->flush();
  if (!*json_) return *jsonName_ + ": write failed";
  return std::nullopt;
}

}  // namespace cvcomp
