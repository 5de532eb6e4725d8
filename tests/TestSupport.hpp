#pragma once

// Shared by the tests: what nearly every test file needs, and the helpers below.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
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
// The `count` corners OpenCV finds with the feature finder's defaults (quality 0.01, distance 10,
// in the single precision of its ports).
std::vector<cv::Point2f> goodCorners(const cv::Mat& gray, int count = 50);
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
inline void feed(OpenCVImagePort& port, cv::Mat* image) {
  port.setCvObjectValue(image ? std::make_shared<OpenCVObject>(image) : nullptr);
}

// Runs a patch's execute with a shared test context.
inline QCContext& context() {
  static QCContext shared;
  return shared;
}
inline bool execute(QCPatch& patch) {
  return patch.execute(context(), 0.0, QCStructure{});
}

// Byte-exact equality of two images of the same size and type; an output that holds an image
// byte-exact equal to `expected`.
inline bool sameBytes(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() &&
         (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}
inline bool publishes(const OpenCVImagePort& output, const cv::Mat& expected) {
  return imageValue(output) && sameBytes(*imageValue(output), expected);
}

// `list` holds exactly `pixels`, as members "<word>0000", ... of double-precision "X" and "Y".
void expectPointList(const QCStructure* list, const std::string& word,
                     const std::vector<cv::Point2f>& pixels, cv::Size size);

// A structure of numbered members ("<word>0000", ...) that each hold four numbers of the given
// precision whose names join to `names` (such as "XYWH"), by index; nil reads as no members.
std::map<std::size_t, cv::Vec4d> fourNumbers(const std::shared_ptr<QCStructure>& list,
                                             const std::string& word, const std::string& names,
                                             bool single = true);

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

// A change that puts `image` on an OpenCV input (nullptr gives nil).
inline std::function<void()> feeding(OpenCVImagePort& port, cv::Mat* image) {
  return [&port, image] { feed(port, image); };
}
// For each change of `unsuitable` (and, with `disable`, for disabling the patch): runs `patch`
// after `suitable`, then after the change (the patch publishes nil), then after `suitable` again:
// the buffer was released, so `fresh` buffers are allocated.
void expectReleases(QCPatch& patch, const OpenCVImagePort& output,
                    const std::function<void()>& suitable,
                    std::vector<std::function<void()>> unsuitable, bool disable = false,
                    std::uint64_t fresh = 1);

// What the patch printed on stderr while `run` ran; whether that holds OpenCV's report of an
// error, under the patch's class name.
std::string stderrOf(const std::function<void()>& run);
inline bool reportsOpenCVError(const std::string& patchClass, const std::function<void()>& run) {
  return stderrOf(run).find(patchClass + ": OpenCV(") != std::string::npos;
}
// What `run` threw, or "accepted".
std::string refusal(const std::function<void()>& run);

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

// The text of a file, and the number of lines of a text.
std::string contents(const std::filesystem::path& file);
inline std::size_t lineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}
// The frames a video plays, read one by one; it must hold as many as its index says.
std::size_t playedFrames(const std::filesystem::path& file);

// What a run of the cvcomp program gave.
struct Outcome {
  int status;
  std::string out;
  std::string err;
};
// Runs a shell command without standard input; runs the cvcomp program with `arguments` (already
// quoted for the shell) so, under a time limit, after the shell commands `first` (such as a
// ulimit) when given.
Outcome shell(const std::string& command);
Outcome cvcomp(const std::string& arguments, const std::string& first = {});
// The path of an example composition.
inline std::string example(const std::string& name) {
  return std::string(CVCOMP_EXAMPLES) + "/" + name;
}
// Each line of `text` parsed as JSON.
std::vector<nlohmann::json> jsonLines(const std::string& text);

// The resident memory of a process ("self" or a process id), in KiB.
long residentKiB(const std::string& process);

// A program run in the background (found on the PATH), killed if it still runs when the object
// goes; with `readFirstLine`, `firstLine` holds the first line it wrote on standard output.
class BackgroundProgram {
 public:
  explicit BackgroundProgram(std::vector<std::string> argv, bool readFirstLine = false);
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  ~BackgroundProgram();

  void signal(int number) const { kill(pid_, number); }
  // The exit status (128 + the signal that ended it), or nothing while it runs after `limit`.
  std::optional<int> wait(std::chrono::milliseconds limit);
  long residentKiB() const { return test::residentKiB(std::to_string(pid_)); }

  std::string firstLine;

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace cvcomp::test
