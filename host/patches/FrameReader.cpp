#include "FrameReader.hpp"

#include "FramePictures.hpp"

namespace cvcomp {

void FrameSource::seek(std::uint64_t /*frame*/) {
  throw FrameSourceError(name() + ": the input cannot seek");
}

FrameReader::FrameReader(std::unique_ptr<FrameSource> source)
    : source_(std::move(source)), fps_(source_->framesPerSecond()), length_(source_->length()) {
  start();
}

FrameReader::~FrameReader() {
  stop();
}

void FrameReader::start() {
  thread_ = std::thread([this] { decode(); });
}

void FrameReader::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

// The reading thread ends before the source moves, and starts again from the new place.
void FrameReader::seek(std::uint64_t frame) {
  stop();
  ready_.clear();
  ended_ = false;
  stopping_ = false;
  error_.clear();
  try {
    source_->seek(frame);
  } catch (const FrameSourceError&) {
    ended_ = true;
    throw;
  }
  start();
}

void FrameReader::decode() {
  cv::Mat frame;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || ready_.size() < kAhead; });
      if (stopping_) return;
    }
    Bitmap bitmap;
    std::string error;
    try {
      source_->read(frame);
      if (!frame.empty()) {
        bitmap = bitmapFromFrame(frame);
      }
    } catch (const FrameSourceError& failure) {
      error = failure.what();
    } catch (const std::exception& failure) {
      // OpenCV's reports end with a line break.
      std::string_view report(failure.what());
      while (report.ends_with('\n')) report.remove_suffix(1);
      error = source_->name() + ": cannot decode a frame: " + std::string(report);
    }
    std::lock_guard lock(mutex_);
    if (!error.empty()) {
      error_ = error;
      ended_ = true;
    } else if (!bitmap.data) {
      ended_ = true;
    } else {
      ready_.push_back(std::move(bitmap));
    }
    changed_.notify_all();
    if (ended_) return;
  }
}

std::optional<Bitmap> FrameReader::next() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || ended_; });
  if (!ready_.empty()) {
    Bitmap bitmap = std::move(ready_.front());
    ready_.pop_front();
    changed_.notify_all();
    return bitmap;
  }
  if (!error_.empty()) throw FrameSourceError(error_);
  return std::nullopt;
}

}  // namespace cvcomp
