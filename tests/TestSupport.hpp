#pragma once

#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <opencv2/core.hpp>

#include "host/QCImage.hpp"
#include "host/QCPatch.hpp"
#include "plugin/OpenCVTypePort.hpp"

namespace cvcomp::test {

// A file of OpenCV's sample data; fails the test when it is missing.
std::filesystem::path sample(const std::string& name);
// A sample picture read as 8-bit BGR (imread's own layout).
cv::Mat samplePicture(const std::string& name);

// A host image whose bitmap holds `bgra` (8-bit, 4 channels) row for row.
std::shared_ptr<QCImage> hostImage(const cv::Mat& bgra);
// A host image's pixels as the bridge sees them: its bitmap representation, top-down.
cv::Mat bitmapOf(const QCImage& image);
// The memory rows of a host image's pixel buffer, first (bottom) row first.
cv::Mat pixelBufferOf(const QCImage& image);

// Puts `image` on an OpenCV input as a box, as an upstream patch would publish it.
void feed(OpenCVTypePort& port, cv::Mat& image);

// Runs a patch's execute with a shared test context.
bool execute(QCPatch& patch);
QCContext& context();

// Byte-exact equality of two images of the same size and type.
bool sameBytes(const cv::Mat& a, const cv::Mat& b);

// For each unsuitable input (an image, or nullptr for nil) after a suitable frame: the patch
// publishes nil on `output` and releases its buffer, so the next suitable frame allocates anew.
void expectUnsuitableReleases(QCPatch& patch, OpenCVTypePort& input, const OpenCVTypePort& output,
                              cv::Mat& suitable, std::initializer_list<cv::Mat*> unsuitable);

// A path in the temporary folder that no other test process uses.
std::filesystem::path scratch(const std::string& name);

// What a run of the cvcomp program gave.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};
// Runs the cvcomp program with `arguments` (already quoted for the shell), no standard input.
Outcome cvcomp(const std::string& arguments);
// The path of an example composition.
std::string example(const std::string& name);
// Each line of `text` parsed as JSON.
std::vector<nlohmann::json> jsonLines(const std::string& text);

}  // namespace cvcomp::test
