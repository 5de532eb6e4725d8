#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/QCImage.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCPatch.hpp"

namespace cvcomp::bench {

// A frame source for benchmarks: hands out frames decoded beforehand, one new host image per
// frame as ImageSource does, so that timing a composition leaves decoding out. After the last
// frame it carries nil.
class MemoryFrames final : public QCPatch {
 public:
  QC_PATCH_CLASS(MemoryFrames)
  static constexpr bool isSafe = true;
  static constexpr int executionMode = kExecutionModeProvider;

  explicit MemoryFrames(std::string identifier) : QCPatch(std::move(identifier)) {}
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  // The frames to hand out, from the first; they must outlive the patch.
  void setFrames(const std::vector<Bitmap>& frames);

  QC_PORT(QCImagePort, outputImage);

 private:
  const std::vector<Bitmap>* frames_ = nullptr;
  std::size_t next_ = 0;
};

}  // namespace cvcomp::bench
