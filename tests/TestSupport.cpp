#include "TestSupport.hpp"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "host/Log.hpp"

extern char** environ;

namespace cvcomp::test {

namespace {
// The library's log reaches standard error as it does in the command, so tests read it there.
const bool logPrinted = [] {
  setLogSink(streamLogSink(std::cerr, false));
  return true;
}();
}  // namespace

std::filesystem::path sample(const std::string& name) {
  const std::filesystem::path path = std::filesystem::path(CVCOMP_SAMPLE_DATA) / name;
  EXPECT_TRUE(std::filesystem::exists(path)) << "missing sample " << path;
  return path;
}

std::filesystem::path frontalFace() {
  const std::filesystem::path path = std::filesystem::path(CVCOMP_CASCADE_DATA) /
                                     "haarcascades/haarcascade_frontalface_default.xml";
  EXPECT_TRUE(std::filesystem::exists(path)) << "missing cascade " << path;
  return path;
}

cv::Mat samplePicture(const std::string& name) {
  cv::Mat picture = cv::imread(sample(name).string(), cv::IMREAD_COLOR);
  EXPECT_FALSE(picture.empty()) << "cannot read " << name;
  return picture;
}

cv::Mat grayPicture(const std::string& name, cv::Size size) {
  cv::Mat gray;
  cv::cvtColor(samplePicture(name), gray, cv::COLOR_BGR2GRAY);
  if (!size.empty()) cv::resize(gray, gray, size, 0, 0, cv::INTER_AREA);
  return gray;
}

std::vector<cv::Point2f> goodCorners(const cv::Mat& gray, int count) {
  std::vector<cv::Point2f> found;
  cv::goodFeaturesToTrack(gray, found, count, 0.01f, 10.0f, cv::noArray(), 7, false, 0.04f);
  return found;
}

cv::Mat bgraPicture(const std::string& name) {
  cv::Mat bgra, inverted = 255 - grayPicture(name);
  cv::cvtColor(samplePicture(name), bgra, cv::COLOR_BGR2BGRA);
  cv::mixChannels(&inverted, 1, &bgra, 1, std::array<int, 2>{0, 3}.data(), 1);
  return bgra;
}

std::shared_ptr<QCImage> hostImage(const cv::Mat& bgra) {
  const std::size_t w = static_cast<std::size_t>(bgra.cols),
                    h = static_cast<std::size_t>(bgra.rows);
  Bitmap bitmap{std::shared_ptr<std::uint8_t[]>(new std::uint8_t[(w * 4 + 20) * h]), w, h,
                w * 4 + 20};
  std::memset(bitmap.data.get(), 0xAB, bitmap.bytesPerRow * h);
  bgra.copyTo(cv::Mat(bgra.size(), CV_8UC4, bitmap.data.get(), bitmap.bytesPerRow));
  return std::make_shared<QCImage>(std::move(bitmap));
}

cv::Mat bitmapOf(const QCImage& image) {
  const auto rep = image.createRepresentationOfType(QCImage::kBitmapRepresentation);
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

void expectPointList(const QCStructure* list, const std::string& word,
                     const std::vector<cv::Point2f>& pixels, cv::Size size) {
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->count(), pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const auto& [key, member] = list->members()[i];
    ASSERT_EQ(key, numberedKey(word, i));
    const QCStructure& point = *std::get<std::shared_ptr<QCStructure>>(member);
    ASSERT_EQ(point.count(), 2u);
    ASSERT_EQ(point.members()[0].first + point.members()[1].first, "XY");
    const cv::Point2f unit = centredUnit(pixels[i], size);
    EXPECT_EQ(*point.numberForKey("X"), QCNumber::withDouble(unit.x)) << key;
    EXPECT_EQ(*point.numberForKey("Y"), QCNumber::withDouble(unit.y)) << key;
  }
}

std::map<std::size_t, cv::Vec4d> fourNumbers(const std::shared_ptr<QCStructure>& list,
                                             const std::string& word, const std::string& names,
                                             bool single) {
  static const QCStructure none;
  std::map<std::size_t, cv::Vec4d> result;
  for (const auto& [key, member] : (list ? *list : none).members()) {
    const std::size_t index = std::stoul(key.substr(word.size()));
    EXPECT_EQ(key, numberedKey(word, index));
    const QCStructure& entry = *std::get<std::shared_ptr<QCStructure>>(member);
    std::string joined;
    for (std::size_t m = 0; m < entry.count(); ++m) {
      const QCNumber& number = std::get<QCNumber>(entry.members()[m].second);
      EXPECT_EQ(number.single, single) << key;
      joined += entry.members()[m].first;
      if (m < 4) result[index][static_cast<int>(m)] = number.value;
    }
    EXPECT_EQ(joined, names) << key;
  }
  return result;
}

Published::Published(const OpenCVImagePort& output)
    : box(output.cvObjectValue()),
      data(imageValue(output) ? imageValue(output)->data : nullptr),
      allocations(ImageBuffer::allocationCount()) {}

bool Published::reusedBy(const OpenCVImagePort& output) const {
  const cv::Mat* image = imageValue(output);
  return image && image->data == data && output.cvObjectValue() != box && allocatedSince() == 0;
}

std::uint64_t Published::allocatedSince() const {
  return ImageBuffer::allocationCount() - allocations;
}

void expectReleases(QCPatch& patch, const OpenCVImagePort& output,
                    const std::function<void()>& suitable,
                    std::vector<std::function<void()>> unsuitable, bool disable,
                    std::uint64_t fresh) {
  if (disable) unsuitable.emplace_back();
  for (const std::function<void()>& change : unsuitable) {
    suitable();
    EXPECT_TRUE(execute(patch));
    EXPECT_NE(imageValue(output), nullptr);
    if (change) {
      change();
      EXPECT_TRUE(execute(patch));
      EXPECT_EQ(output.cvObjectValue(), nullptr);
    } else {
      patch.disable(context());
    }
    suitable();
    const Published before(output);
    EXPECT_TRUE(execute(patch));
    EXPECT_NE(imageValue(output), nullptr);
    EXPECT_EQ(before.allocatedSince(), fresh);
  }
}

std::string stderrOf(const std::function<void()>& run) {
  testing::internal::CaptureStderr();
  run();
  return testing::internal::GetCapturedStderr();
}

std::string refusal(const std::function<void()>& run) {
  try {
    run();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "accepted";
}

TempFolder::TempFolder() {
  std::random_device random;
  path_ = std::filesystem::temp_directory_path() / ("cvcomp-test-" + std::to_string(random()));
  std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempFolder::write(const std::string& name, const std::string& bytes) const {
  const std::filesystem::path file = path_ / name;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

std::string contents(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::size_t playedFrames(const std::filesystem::path& file) {
  cv::VideoCapture video(file.string(), cv::CAP_FFMPEG);
  std::size_t frames = 0;
  for (cv::Mat frame; video.read(frame);) ++frames;
  EXPECT_EQ(video.get(cv::CAP_PROP_FRAME_COUNT), static_cast<double>(frames)) << file;
  return frames;
}

Outcome shell(const std::string& command) {
  const TempFolder folder;
  Outcome outcome{-1, {}, {}};
  FILE* pipe =
      popen(("(" + command + ") 2>" + (folder / "err").string() + " </dev/null").c_str(), "r");
  if (!pipe) return outcome;
  char buffer[4096];
  while (const std::size_t n = fread(buffer, 1, sizeof buffer, pipe)) outcome.out.append(buffer, n);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.err = contents(folder / "err");
  return outcome;
}

Outcome cvcomp(const std::string& arguments, const std::string& first) {
  // A run that outlives the time limit is stopped and counts as a hang (status 124).
  return shell(first + "timeout -k 5 300 " + std::string(CVCOMP_PROGRAM) + " " + arguments);
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> parsed;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) parsed.push_back(nlohmann::json::parse(line));
  return parsed;
}

long residentKiB(const std::string& process) {
  std::ifstream in("/proc/" + process + "/status");
  for (std::string key; in >> key;) {
    if (key == "VmRSS:") return in >> key, std::stol(key);
  }
  return 0;
}

BackgroundProgram::BackgroundProgram(std::vector<std::string> argv, bool readFirstLine) {
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  int out[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (readFirstLine) {
    EXPECT_EQ(pipe(out), 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
  }
  EXPECT_EQ(posix_spawnp(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  if (!readFirstLine) return;
  close(out[1]);
  for (char c = 0; read(out[0], &c, 1) == 1 && c != '\n';) firstLine += c;
  close(out[0]);
}

BackgroundProgram::~BackgroundProgram() {
  if (pid_ > 0 && !status_) kill(pid_, SIGKILL), wait(std::chrono::seconds(10));
}

std::optional<int> BackgroundProgram::wait(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!status_) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (std::chrono::steady_clock::now() >= end) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return status_;
}

}  // namespace cvcomp::test
