#pragma once

#include <filesystem>
#include <string>

namespace cvcomp::test {

// The frontal-face cascade of opencv-data, in its current format.
std::filesystem::path frontalFace();

// Rewrites a cascade of the current format (stages of weak classifiers whose nodes refer to a
// shared feature table) in the classic format: a top-level node of type "opencv-haar-classifier"
// holding the window size and stages of trees whose nodes carry their features themselves.
void writeClassicCascade(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace cvcomp::test
