#pragma once

#include <string>

#include "OpenCVGuard.hpp"
#include "host/QCPatch.hpp"

namespace cvcomp {

// Base of the plug-in's patches: their common class traits (safe, processor, no subpatches, no
// time dependency) and the guard around their OpenCV calls.
class OpenCVPatch : public QCPatch {
 public:
  static constexpr bool isSafe = true;
  static constexpr int executionMode = kExecutionModeProcessor;
  static constexpr bool allowsSubpatches = false;
  static constexpr int timeMode = kTimeModeNone;

  using QCPatch::QCPatch;

 protected:
  template <class Call>
  bool guarded(Call&& call) const {
    return guardOpenCV(className(), std::forward<Call>(call));
  }
};

}  // namespace cvcomp
