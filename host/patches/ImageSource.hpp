#pragma once

#include <memory>
#include <optional>
#include <string>

#include "FrameReader.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCPatch.hpp"
#include "host/QCValuePorts.hpp"

namespace cvcomp {

// The frames of a video, a picture, a folder of pictures, a camera or the generated test scene,
// one host image per frame. Relative paths resolve next to the composition file.
class ImageSource final : public QCPatch, public FrameProvider {
 public:
  QC_PATCH_CLASS(ImageSource)
  // It reads files and cameras.
  static constexpr bool isSafe = false;
  static constexpr int executionMode = kExecutionModeProvider;

  inline static const std::string kDefaultPath = "pattern:640x480";

  explicit ImageSource(std::string identifier);
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;
  void disable(QCContext& context) override;

  FrameProvider* frameProvider() override { return this; }

  bool openFrames() override;
  // Paths relative to the working folder are taken as such, not next to the composition file.
  void setFrameLocation(const std::string& location) override;
  bool prepareFrame() override;
  // Once the source has no more frames, outputImage carries nil.
  bool framesEnded() const override { return finished_; }
  const std::string& framesFailure() const override { return failure_; }
  // The source's frame rate, or 30 until a source is open.
  double framesPerSecond() const override { return reader_ ? reader_->framesPerSecond() : 30.0; }
  void supplyFrame(std::shared_ptr<QCImage> frame) override { supplied_ = std::move(frame); }
  void repeatFrame() override { supplied_ = outputImage.imageValue(); }
  std::optional<std::uint64_t> framesLength() const override {
    return reader_ ? reader_->length() : std::nullopt;
  }
  FramePace framesPace() const override { return reader_ ? reader_->pace() : FramePace::OwnRate; }
  bool seekFrames(std::uint64_t frame) override;

  QC_PORT(QCStringPort, inputPath);
  QC_PORT(QCImagePort, outputImage);

 private:
  std::unique_ptr<FrameReader> reader_;
  std::shared_ptr<QCImage> supplied_;
  std::optional<Bitmap> prepared_;
  std::string openedPath_;
  bool finished_ = false;
  std::string failure_;
};

}  // namespace cvcomp
