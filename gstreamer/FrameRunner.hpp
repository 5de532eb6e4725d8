#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "host/CompositionEdit.hpp"
#include "host/Engine.hpp"

namespace cvcomp {

// The edits that settings "id.port=value;id.port=value..." make on `composition`, each value read
// as --set reads it; empty entries are skipped. Throws CompositionError for an entry without "="
// or text that is not UTF-8.
std::vector<CompositionEdit> settingEdits(const Composition& composition,
                                          std::string_view settings);

// A composition evaluated on frames that come from elsewhere (a GStreamer pipeline): each frame
// goes where the composition's ImageSource would feed its own.
class FrameRunner {
 public:
  // A rectangle a published structure holds, in pixels of the frame, with the id of the patch
  // that published it.
  struct Region {
    std::string patch;
    cv::Rect rectangle;
  };
  struct Result {
    std::string jsonLine;            // as `cvcomp run --json` writes the frame, without newline
    std::vector<Region> regions;     // within the frame, in publishing and member order
    std::optional<cv::Mat> picture;  // the published picture, when asked for
  };

  // Loads a composition file; throws CompositionError, or std::runtime_error when the plug-in
  // module cannot be loaded.
  explicit FrameRunner(const std::filesystem::path& composition);

  // Applies settings at once, all or none; throws CompositionError.
  void apply(std::string_view settings);
  Engine& engine() { return *engine_; }
  // Evaluates one frame: 8-bit gray, BGR or BGRA, top row first. Throws CompositionError when
  // the composition has no ImageSource, std::runtime_error when the frame fails.
  Result process(const cv::Mat& frame, std::optional<double> time, bool withPicture);

 private:
  void collect(const FrameResult& frame);

  std::unique_ptr<Engine> engine_;
  cv::Size frameSize_;
  bool withPicture_ = false;
  Result result_;
};

}  // namespace cvcomp
