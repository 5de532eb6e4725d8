#include "TestSupport.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <opencv2/imgcodecs.hpp>

#include "plugin/ImageBuffer.hpp"
#include "plugin/ImageOutput.hpp"

namespace cvcomp::test {

std::filesystem::path sample(const std::string& name) {
  const std::filesystem::path path = std::filesystem::path(CVCOMP_SAMPLE_DATA) / name;
  EXPECT_TRUE(std::filesystem::exists(path)) << "missing sample " << path;
  return path;
}

cv::Mat samplePicture(const std::string& name) {
  cv::Mat picture = cv::imread(sample(name).string(), cv::IMREAD_COLOR);
  EXPECT_FALSE(picture.empty()) << "cannot read " << name;
  return picture;
}

std::shared_ptr<QCImage> hostImage(const cv::Mat& bgra) {
  Bitmap bitmap =
      Bitmap::allocate(static_cast<std::size_t>(bgra.cols), static_cast<std::size_t>(bgra.rows));
  bgra.copyTo(cv::Mat(bgra.size(), CV_8UC4, bitmap.data.get(), bitmap.bytesPerRow));
  return std::make_shared<QCImage>(std::move(bitmap));
}

cv::Mat bitmapOf(const QCImage& image) {
  const auto rep = image.createRepresentationOfType(QCImage::kBitmapRepresentation,
                                                    context().imageManager(), nullptr);
  if (!rep) return {};
  return cv::Mat(static_cast<int>(rep->pixelsHigh()), static_cast<int>(rep->pixelsWide()), CV_8UC4,
                 rep->bitmapData(), rep->bytesPerRow())
      .clone();
}

cv::Mat pixelBufferOf(const QCImage& image) {
  const auto& pb = image.pixelBuffer();
  if (!pb) return {};
  return cv::Mat(static_cast<int>(pb->pixelsHigh()), static_cast<int>(pb->pixelsWide()), CV_8UC4,
                 const_cast<std::uint8_t*>(pb->pixels()), pb->bytesPerRow())
      .clone();
}

void feed(OpenCVTypePort& port, cv::Mat& image) {
  port.setCvObjectValue(std::make_shared<OpenCVObject>(&image));
}

QCContext& context() {
  static QCContext shared;
  return shared;
}

bool execute(QCPatch& patch) {
  return patch.execute(context(), 0.0, QCStructure{});
}

bool sameBytes(const cv::Mat& a, const cv::Mat& b) {
  if (a.size() != b.size() || a.type() != b.type()) return false;
  for (int y = 0; y < a.rows; ++y) {
    if (std::memcmp(a.ptr(y), b.ptr(y), a.cols * a.elemSize()) != 0) return false;
  }
  return true;
}

void expectUnsuitableReleases(QCPatch& patch, OpenCVTypePort& input, const OpenCVTypePort& output,
                              cv::Mat& suitable, std::initializer_list<cv::Mat*> unsuitable) {
  for (cv::Mat* image : unsuitable) {
    feed(input, suitable);
    EXPECT_TRUE(execute(patch));
    EXPECT_NE(imageValue(output), nullptr);
    if (image) {
      feed(input, *image);
    } else {
      input.setCvObjectValue(nullptr);
    }
    EXPECT_TRUE(execute(patch));
    EXPECT_EQ(output.cvObjectValue(), nullptr);
    const std::uint64_t before = ImageBuffer::allocationCount();
    feed(input, suitable);
    EXPECT_TRUE(execute(patch));
    EXPECT_EQ(ImageBuffer::allocationCount(), before + 1);
  }
}

std::filesystem::path scratch(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("cvcomp-" + std::to_string(getpid()) + "-" + name);
}

Outcome cvcomp(const std::string& arguments) {
  const std::filesystem::path errors = scratch("program.err");
  const std::string command =
      std::string(CVCOMP_PROGRAM) + " " + arguments + " 2>" + errors.string() + " </dev/null";
  Outcome outcome{-1, {}, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) outcome.out.append(buffer, n);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::ifstream in(errors);
  std::ostringstream text;
  text << in.rdbuf();
  outcome.err = text.str();
  std::filesystem::remove(errors);
  return outcome;
}

std::string example(const std::string& name) {
  return std::string(CVCOMP_EXAMPLES) + "/" + name;
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> parsed;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) parsed.push_back(nlohmann::json::parse(line));
  return parsed;
}

}  // namespace cvcomp::test
