#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include <opencv2/objdetect.hpp>

#include "host/QCValuePorts.hpp"
#include "plugin/OpenCVPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp {

// Loads the classifier cascade named on `inputPath` and offers it on `outputData` (type code 3).
// Every execution with a path reads the file again; the host executes the patch only when its
// path changes. A file that does not load gives a box holding null; no path gives nil.
class OpenCVLoad final : public OpenCVPatch {
 public:
  QC_PATCH_CLASS(OpenCVLoad)
  // Loading reads files, so the patch keeps the host's default safety trait.
  static constexpr bool isSafe = QCPatch::isSafe;

  using OpenCVPatch::OpenCVPatch;
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  // The file that `text` names: empty text names none; "~" and "~user" begin a home-relative
  // path, "/" an absolute one; any other text is relative to the folder of the composition
  // file, and names none when the composition has no file.
  static std::optional<std::filesystem::path> resolvePath(const std::string& text,
                                                          const PatchOptions& options);

  QC_PORT(QCStringPort, inputPath);
  QC_PORT(OpenCVCascadePort, outputData);

 private:
  // A cascade read from `path`, or nullptr when the file holds none.
  std::unique_ptr<cv::CascadeClassifier> load(const std::filesystem::path& path) const;

  // The one cascade the patch owns: the one loaded last, or null.
  std::unique_ptr<cv::CascadeClassifier> cascade;
};

// Reading a cascade input: the cascade in the port's box, or nullptr when the port carries nil or
// the box holds null.
cv::CascadeClassifier* cascadeValue(const OpenCVCascadePort& port);

}  // namespace cvcomp
