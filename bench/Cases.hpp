#pragma once

#include <cstddef>
#include <filesystem>
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
  // End to end: also the hand loop against itself, a control of how far the two sides of a
  // comparison can stray when they do the same.
  bool againstItself = false;
  // Each `cvcomp run` starts with an empty cache folder, as the first run on a cascade file does:
  // it probes the file before loading it.
  bool firstRuns = false;
};

// A clip that the end-to-end mode makes before it measures: `frames` frames of `source` resized
// by the composition `resizing`.
struct Clip {
  std::filesystem::path path;
  std::string source;
  std::string resizing;
  int width;
  int height;
  std::size_t frames;
};

// The face rows' clips, in `folder`.
std::vector<Clip> faceClips(const std::filesystem::path& folder);

// The cases of the in-memory comparison, one or more per example composition.
std::vector<Case> frameCases();
// The cases of the end-to-end comparison: whole runs, decoding and JSON output included; the face
// rows read the clips in `clips`.
std::vector<Case> endToEndCases(const std::filesystem::path& clips);
// The example's own one-frame run: what starting costs each side.
Case startUpCase();

}  // namespace cvcomp::bench
