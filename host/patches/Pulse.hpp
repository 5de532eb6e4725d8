#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/QCPatch.hpp"
#include "host/QCValuePorts.hpp"

namespace cvcomp {

// A boolean signal for the find, use and add inputs of other patches: true on the frames listed
// in `inputFrames` ("0,100,200") and on every `inputPeriod`-th frame (0: never), false otherwise.
class Pulse final : public QCPatch {
 public:
  QC_PATCH_CLASS(Pulse)
  static constexpr bool isSafe = true;
  static constexpr int timeMode = kTimeModeTimeBase;

  using QCPatch::QCPatch;
  bool execute(QCContext& context, double time, const QCStructure& arguments) override;

  QC_PORT(QCStringPort, inputFrames);
  QC_PORT(QCIndexPort, inputPeriod);
  QC_PORT(QCBooleanPort, outputSignal);

 private:
  void parseFrames();

  std::string parsedText_;
  std::vector<std::uint64_t> frames_;
};

}  // namespace cvcomp
