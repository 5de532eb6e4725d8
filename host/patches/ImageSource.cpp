#include "ImageSource.hpp"

#include "host/QCImage.hpp"

namespace cvcomp {

ImageSource::ImageSource(std::string identifier) : QCPatch(std::move(identifier)) {
  inputPath.setStringValue(kDefaultPath);
}

void ImageSource::setFrameLocation(const std::string& location) {
  // Named sources and an empty text (which opening refuses) are taken as they are.
  const bool named =
      location.empty() || location.starts_with("pattern:") || location.starts_with("camera:");
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(location, error);
  inputPath.setStringValue(named || error ? location : absolute.string());
}

bool ImageSource::openFrames() {
  if (reader_ && openedPath_ == inputPath.stringValue()) return true;
  reader_.reset();
  prepared_.reset();
  openedPath_ = inputPath.stringValue();
  finished_ = false;
  failure_.clear();
  // Without a composition file, paths are relative to the working folder; one that is gone
  // leaves them relative, and opening them then names what is missing.
  std::error_code noFolder;
  const std::filesystem::path base = options().compositionURL
                                         ? options().compositionURL->parent_path()
                                         : std::filesystem::current_path(noFolder);
  try {
    reader_ = std::make_unique<FrameReader>(openFrameSource(openedPath_, base));
  } catch (const FrameSourceError& error) {
    failure_ = error.what();
  }
  return failure_.empty();
}

bool ImageSource::prepareFrame() {
  if (supplied_) return true;
  // Opening another location drops the frame taken from the last.
  if (!openFrames() || finished_ || !failure_.empty()) return false;
  if (prepared_) return true;
  try {
    prepared_ = reader_->next();
    finished_ = !prepared_;
  } catch (const FrameSourceError& error) {
    failure_ = error.what();
  }
  return prepared_.has_value();
}

bool ImageSource::seekFrames(std::uint64_t frame) {
  if (!openFrames()) return false;
  prepared_.reset();
  finished_ = false;
  try {
    reader_->seek(frame);
  } catch (const FrameSourceError& error) {
    failure_ = error.what();
  }
  return failure_.empty();
}

bool ImageSource::execute(QCContext& /*context*/, double /*time*/,
                          const QCStructure& /*arguments*/) {
  if (supplied_) {
    outputImage.setImageValue(std::move(supplied_));
    supplied_.reset();
    return true;
  }
  if (prepareFrame()) {
    outputImage.setImageValue(std::make_shared<QCImage>(std::move(*prepared_)));
    prepared_.reset();
  } else {
    outputImage.setImageValue(nullptr);
  }
  return true;
}

void ImageSource::disable(QCContext& /*context*/) {
  reader_.reset();
  prepared_.reset();
  openedPath_.clear();
}

}  // namespace cvcomp
