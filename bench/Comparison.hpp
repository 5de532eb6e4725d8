#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "Cases.hpp"

namespace cvcomp::bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double median(std::vector<double> values) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// One case measured side by side: both sides run in alternating rounds; every figure is the median
// over the rounds, the ratio the median of the rounds' ratios.
struct Measurement {
  std::size_t frames = 0;
  double compositionMs = 0.0;  // per frame
  double handMs = 0.0;         // per frame
  // Image buffers the patches allocated per round after the first two frames (steady state).
  std::size_t steadyAllocations = 0;
  // The JSON line of the published outputs, per frame, and the points in the last one.
  double jsonMs = 0.0;
  std::size_t jsonPoints = 0;
  // End to end: the hand loop's decoding and converting of its frames, per frame.
  double decodingMs = 0.0;
  std::vector<double> compositionRounds, handRounds;  // ms per frame of every round

  // Hand loop ÷ composition of every round. The two sides of a round ran side by side, so that
  // their ratio is steadier than either time when the machine's speed drifts between rounds.
  std::vector<double> roundRatios() const {
    std::vector<double> ratios;
    for (std::size_t r = 0; r < compositionRounds.size() && r < handRounds.size(); ++r)
      ratios.push_back(compositionRounds[r] > 0.0 ? handRounds[r] / compositionRounds[r] : 0.0);
    return ratios;
  }
  double ratio() const { return median(roundRatios()); }
};

// The composition through the evaluator against its hand loop, on frames decoded beforehand.
Measurement compareInMemory(const Case& c, int rounds);
// Whole `cvcomp run` invocations (decoding and JSON lines included) against whole runs of the
// hand loop as a program of its own, with its sequential decoding and JSON lines; per frame
// figures over whole runs, process start included on both sides.
Measurement compareEndToEnd(const Case& c, int rounds, const std::string& program);
// The face example played whole by `cvcomp studio` (as the composition side), with or without a
// client watching, against whole `cvcomp run`s (as the hand side).
Measurement compareStudio(int rounds, const std::string& program, bool watching);
struct HandRun {
  std::size_t frames = 0;
  double decodingMs = 0.0;  // reading and converting the frames, in all
};
// The hand loop of an end-to-end case over its clip in one thread: open, decode, convert as the
// runner's reader does, process, write a JSON line.
HandRun runHandLoop(const Case& c);

}  // namespace cvcomp::bench
