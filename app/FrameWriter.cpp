#include "FrameWriter.hpp"

#include <cctype>
#include <cstdio>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace cvcomp {

namespace {
// Whether `name` holds exactly one frame number: "%d", or "%0Nd" with one digit N.
bool holdsOneFrameNumber(const std::string& name) {
  const std::size_t percent = name.find('%');
  if (percent == std::string::npos || name.find('%', percent + 1) != std::string::npos) {
    return false;
  }
  std::size_t at = percent + 1;
  if (at + 1 < name.size() && name[at] == '0' &&
      std::isdigit(static_cast<unsigned char>(name[at + 1]))) {
    at += 2;
  }
  return at < name.size() && name[at] == 'd';
}

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isPictureName(const std::string& name) {
  const std::string lower = lowered(name);
  for (const char* extension : {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".ppm"}) {
    if (lower.ends_with(extension)) return true;
  }
  return false;
}

int fourccFor(const std::string& name) {
  const std::string lower = lowered(name);
  if (lower.ends_with(".mp4") || lower.ends_with(".m4v") || lower.ends_with(".mov")) {
    return cv::VideoWriter::fourcc('m', 'p', '4', 'v');
  }
  return cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
}
}  // namespace

FrameWriter::FrameWriter(std::string name, double fps)
    : name_(std::move(name)),
      numbered_(name_.find('%') != std::string::npos),
      picture_(isPictureName(name_)),
      fps_(fps) {
  if (numbered_ && !holdsOneFrameNumber(name_)) {
    throw FrameWriterError(name_ + ": a numbered name holds exactly one %d (or %05d)");
  }
}

void FrameWriter::write(const QCImage& image, QCImageManager& manager, std::uint64_t frame) {
  const auto rep =
      image.createRepresentationOfType(QCImage::kBitmapRepresentation, manager, nullptr);
  if (!rep) return;
  const cv::Mat bgra(static_cast<int>(rep->pixelsHigh()), static_cast<int>(rep->pixelsWide()),
                     CV_8UC4, rep->bitmapData(), rep->bytesPerRow());
  cv::cvtColor(bgra, bgr_, cv::COLOR_BGRA2BGR);

  if (numbered_ || picture_) {
    std::string file = name_;
    if (numbered_) {
      file.assign(name_.size() + 32, '\0');
      const int length =
          std::snprintf(file.data(), file.size(), name_.c_str(), static_cast<int>(frame));
      file.resize(static_cast<std::size_t>(std::max(length, 0)));
    }
    bool saved = false;
    try {
      saved = cv::imwrite(file, bgr_);
    } catch (const cv::Exception&) {
      saved = false;
    }
    if (!saved) throw FrameWriterError(file + ": cannot be written");
    ++written_;
    return;
  }

  if (!video_.isOpened()) {
    videoSize_ = bgr_.size();
    if (!video_.open(name_, fourccFor(name_), fps_, videoSize_)) {
      throw FrameWriterError(name_ + ": cannot be written as a video");
    }
  }
  // A video keeps the size of its first frame.
  if (bgr_.size() != videoSize_) cv::resize(bgr_, bgr_, videoSize_);
  video_.write(bgr_);
  ++written_;
}

}  // namespace cvcomp
