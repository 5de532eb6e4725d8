#include "RunOutputs.hpp"

#include "host/patches/FramePictures.hpp"

namespace cvcomp {

std::optional<std::string> RunOutputs::open(const std::optional<std::string>& json,
                                            const std::optional<std::string>& video, double fps,
                                            std::optional<std::string> picture) {
  const std::lock_guard lock(mutex_);
  picture_ = std::move(picture);
  try {
    if (json) json_.emplace(*json);
    if (video) video_.emplace(*video, fps);
  } catch (const OutputError& error) {
    return error.what();
  }
  return std::nullopt;
}

std::optional<std::string> RunOutputs::write(const FrameResult& frame) {
  const std::lock_guard lock(mutex_);
  if (closed_) return std::nullopt;
  try {
    if (json_) json_->append(frame.jsonLine() + '\n');
    if (!video_ || !picture_) return std::nullopt;
    if (const auto picture = portPicture(frame.composition.port(*picture_))) {
      video_->write(*picture, frame.frame);
    }
  } catch (const OutputError& error) {
    return error.what();
  }
  return std::nullopt;
}

std::optional<std::string> RunOutputs::close() {
  const std::lock_guard lock(mutex_);
  if (closed_) return std::nullopt;
  closed_ = true;
  std::optional<std::string> failure;
  try {
    if (video_) video_->close();
  } catch (const OutputError& error) {
    failure = error.what();
  }
  try {
    if (json_) json_->close();
  } catch (const OutputError& error) {
    if (!failure) failure = error.what();
  }
  return failure;
}

}  // namespace cvcomp
