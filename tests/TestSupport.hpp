#pragma once

// Shared by the tests: what nearly every test file needs, and the helpers below.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "host/QCImage.hpp"
#include "host/QCObjectPorts.hpp"
#include "host/QCPatch.hpp"
#include "host/QCValuePorts.hpp"
#include "plugin/ImageBuffer.hpp"
#include "plugin/ImageOutput.hpp"
#include "plugin/OpenCVTypePort.hpp"
#include "plugin/PointStructures.hpp"

namespace cvcomp::test {

// A file of OpenCV's sample data; fails the test when it is missing.
std::filesystem::path sample(const std::string& name);
// The frontal-face cascade of opencv-data, in its current format.
std::filesystem::path frontalFace();
// A sample picture read as 8-bit BGR (imread's own layout).
cv::Mat samplePicture(const std::string& name);
// A sample picture in 8-bit gray, resized with area averaging when `size` is given.
cv::Mat grayPicture(const std::string& name, cv::Size size = {});
// A sample picture in 8-bit BGRA whose alpha is the inverted gray, so a lost channel shows.
cv::Mat bgraPicture(const std::string& name);

// A host image whose bitmap holds `bgra` (8-bit, 4 channels) row for row, in rows that carry
// padding bytes beyond the pixels.
std::shared_ptr<QCImage> hostImage(const cv::Mat& bgra);
// A host image's pixels as the bridge sees them: its bitmap representation, top-down.
cv::Mat bitmapOf(const QCImage& image);
// The memory rows of a host image's pixel buffer, first (bottom) row first.
cv::Mat pixelBufferOf(const QCImage& image);

// Puts `image` on an OpenCV input as a box, as an upstream patch would publish it; nullptr
// gives nil.
void feed(OpenCVImagePort& port, cv::Mat* image);
inline void feed(OpenCVImagePort& port, cv::Mat& image) {
  feed(port, &image);
}

// Runs a patch's execute with a shared test context.
bool execute(QCPatch& patch);
QCContext& context();

// Byte-exact equality of two images of the same size and type.
bool sameBytes(const cv::Mat& a, const cv::Mat& b);

// `list` holds exactly `pixels`, as members "<word>0000", ... of double-precision "X" and "Y".
void expectPointList(const QCStructure* list, const std::string& word,
                     const std::vector<cv::Point2f>& pixels, cv::Size size);

// A structure of numbered members ("<word>0000", ...) that each hold four single-precision
// numbers whose names join to `names` (such as "XYWH"), by index; nil reads as no members.
std::map<std::size_t, cv::Vec4f> fourNumbers(const std::shared_ptr<QCStructure>& list,
                                             const std::string& word, const std::string& names);

// An image output as published now: its box, its buffer and the allocations so far.
struct Published {
  explicit Published(const OpenCVImagePort& output);
  // The output holds a new box around the same buffer, and nothing was allocated since.
  bool reusedBy(const OpenCVImagePort& output) const;
  std::uint64_t allocatedSince() const;

  std::shared_ptr<OpenCVObject> box;
  const void* data;
  std::uint64_t allocations;
};

// Runs `patch` after `suitable`, then after `unsuitable` (when `givesNil`: the patch publishes
// nil), then after `suitable` again: the buffer was released, so `fresh` buffers are allocated.
void expectReleases(QCPatch& patch, const OpenCVImagePort& output,
                    const std::function<void()>& suitable, const std::function<void()>& unsuitable,
                    bool givesNil = true, std::uint64_t fresh = 1);

// What the patch printed on stderr while `run` ran.
std::string stderrOf(const std::function<void()>& run);

// A fresh folder that is removed with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  // Writes `bytes` into the file `name` of the folder and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// The text of a file.
std::string contents(const std::filesystem::path& file);

// What a run of the cvcomp program gave.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};
// Runs the cvcomp program with `arguments` (already quoted for the shell), no standard input,
// under a time limit.
Outcome cvcomp(const std::string& arguments);
// The path of an example composition.
std::string example(const std::string& name);
// Each line of `text` parsed as JSON.
std::vector<nlohmann::json> jsonLines(const std::string& text);

}  // namespace cvcomp::test
