#pragma once

#include <memory>
#include <string>

#include "FrameReader.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCPatch.hpp"
#include "host/QCValuePorts.hpp"

namespace cvcomp {

// The frames of a video, a picture, a folder of pictures, a camera or the generated test scene,
// one host image per frame. Relative paths resolve next to the composition file.
class ImageSource final : public QCPatch {
 public:
  QC_PATCH_CLASS(ImageSource)
  static constexpr bool isSafe = true;
  static constexpr int executionMode = kExecutionModeProvider;

  inline static const std::string kDefaultPath = "pattern:640x480";

  explicit ImageSource(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;
  void disable(QCContext& context) override;

  // Set once the source has no more frames; outputImage then carries nil.
  bool finished() const { return finished_; }
  // Why the source could not be opened or read; empty while all is well.
  const std::string& failure() const { return failure_; }
  // The source's frame rate, or 30 until a source is open.
  double framesPerSecond() const { return reader_ ? reader_->framesPerSecond() : 30.0; }
  // Opens the source now, so that a failure shows before the first frame. Returns false on failure.
  bool open();

  QC_PORT(QCStringPort, inputPath);
  QC_PORT(QCImagePort, outputImage);

 private:
  std::unique_ptr<FrameReader> reader_;
  std::string openedPath_;
  bool finished_ = false;
  std::string failure_;
};

}  // namespace cvcomp
