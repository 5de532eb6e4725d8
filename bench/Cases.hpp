#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "HandLoops.hpp"

namespace cvcomp::bench {

// One benchmark case: a composition with its settings, the frames it runs on, and the hand loop
// that makes the same OpenCV calls.
struct Case {
  std::string name;
  std::string composition;  // a composition file
  std::string input;        // the frames, as ImageSource takes them
  std::size_t frames;
  std::vector<std::pair<std::string, std::string>> settings;  // "id.port", value as JSON text
  std::function<std::unique_ptr<HandLoop>()> handLoop;
  // Also times the JSON line of the published outputs, for every frame.
  bool timesJson = false;
};

// The cases of the in-memory comparison, one or more per example composition.
std::vector<Case> frameCases();
// The cases of the end-to-end comparison: whole runs, decoding and JSON output included.
std::vector<Case> endToEndCases();

}  // namespace cvcomp::bench
