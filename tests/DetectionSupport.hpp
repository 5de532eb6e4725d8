#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace cvcomp::test {

// A cascade file of opencv-data, such as "haarcascades/haarcascade_frontalface_default.xml";
// fails the test when it is missing.
std::filesystem::path cascadeFile(const std::string& name);

// A fresh folder that is removed with everything in it when the object goes.
class TempFolder {
 public:
  TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  ~TempFolder();

  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` into the file `name` of the folder and returns its path.
  std::filesystem::path write(const std::string& name, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// The text of a file.
std::string contents(const std::filesystem::path& file);

// Rewrites a cascade of the current format (stages of weak classifiers whose nodes refer to a
// shared feature table) in the classic format: a top-level node of type "opencv-haar-classifier"
// holding the window size and stages of trees whose nodes carry their features themselves.
void writeClassicCascade(const std::filesystem::path& from, const std::filesystem::path& to);

// The frames of a sample clip at the given indices (ascending), as 8-bit BGR.
std::vector<cv::Mat> clipFrames(const std::string& name, const std::vector<int>& indices);

}  // namespace cvcomp::test
