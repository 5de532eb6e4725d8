// The runner against bad input: unreadable compositions, frame sources that are missing, empty,
// truncated or corrupt, pictures of awkward and changing sizes, and cascade files that hold no
// cascade. Each ends with a clear message or the documented nil/empty output; none may make
// cvcomp die by a signal, hang or report a sanitizer error.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "DetectionSupport.hpp"
#include "TestSupport.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;         // the exit status, or 128 + the signal that ended the program
  std::string out;    // standard output
  std::string err;    // standard error
  std::size_t lines;  // lines of standard output
};

// Runs cvcomp with `arguments` (quoted for the shell) under a time limit, its output going to
// files in `folder`: a run that outlives the limit is stopped and counts as a hang (status 124,
// as timeout gives).
Outcome cvcompRun(const std::string& arguments, const fs::path& folder) {
  const fs::path out = folder / "stdout.txt";
  const fs::path err = folder / "stderr.txt";
  const int status =
      std::system(("timeout -k 5 300 " + std::string(CVCOMP_PROGRAM) + " " + arguments + " >" +
                   out.string() + " 2>" + err.string() + " </dev/null")
                      .c_str());
  Outcome run{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), test::contents(out),
              test::contents(err), 0};
  run.lines = static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n'));
  return run;
}

class BadInput : public testing::Test {
 protected:
  // Runs cvcomp and checks what every run must satisfy: it ended by itself with one of cvcomp's
  // exit statuses and without a sanitizer report.
  Outcome cvcomp(const std::string& arguments) {
    const Outcome run = cvcompRun(arguments, folder.path());
    EXPECT_LE(run.status, 2) << arguments << "\n" << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
    return run;
  }
  // The last line cvcomp wrote on standard error.
  static std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    if (end == std::string::npos) return "";
    const std::size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
  }
  static std::string example(const std::string& name) {
    return std::string(CVCOMP_EXAMPLES) + "/" + name + ".json";
  }
  fs::path picture(const std::string& name, cv::Size size) const {
    cv::Mat image;
    cv::resize(test::samplePicture("fruits.jpg"), image, size, 0, 0, cv::INTER_AREA);
    const fs::path file = folder.path() / name;
    fs::create_directories(file.parent_path());
    EXPECT_TRUE(cv::imwrite(file.string(), image)) << file;
    return file;
  }

  const test::TempFolder folder;
};

const std::vector<std::string> kExamples{"gray",        "track-features", "face-detect",
                                         "edges-lines", "chessboard",     "logpolar"};

TEST_F(BadInput, CompositionFilesThatCannotBeReadAreNamed) {
  // Opens, but reading fails (as root, no permission makes a file unreadable).
  Outcome run = cvcomp("check /proc/self/mem");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "cvcomp: /proc/self/mem: cannot be read\n");

  // A device that never ends is refused before it fills the memory.
  run = cvcomp("check /dev/zero");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "cvcomp: /dev/zero: larger than 16 MiB, not a composition file\n");

  // Deep nesting stays within the stack, in a file and on the command line.
  std::string deepStructure;
  for (int level = 0; level < 100000; ++level) deepStructure += "{\"a\":";
  deepStructure += "1" + std::string(100000, '}');
  const fs::path deep = folder.write(
      "deep.json", R"({"patches": {"d": {"class": "Overlay", "inputs": {"inputStructure": )" +
                       deepStructure + "}}}}");
  run = cvcomp("run " + deep.string());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "cvcomp: " + deep.string() + ": values are nested more than 64 levels deep\n");
  const std::string nested = std::string(30000, '[') + std::string(30000, ']');
  const fs::path nestedFile = folder.write("nested.txt", "d.inputStructure=" + nested);
  run =
      cvcomp("run " +
             folder.write("overlay.json", R"({"patches": {"d": {"class": "Overlay"}}})").string() +
             " --frames 1 --set \"$(cat " + nestedFile.string() + ")\"");
  EXPECT_EQ(run.status, 2);
  const std::string last = lastLine(run.err);
  EXPECT_TRUE(last == "cvcomp: values are nested more than 64 levels deep") << last.substr(0, 200);
}

TEST_F(BadInput, FrameSourcesThatCannotBeReadEndTheRunWithTheirName) {
  const std::string clip = test::contents(test::sample("Megamind.avi"));
  const std::string photo = test::contents(test::sample("baboon.jpg"));
  std::string noise(100000, '\0');
  cv::randu(cv::Mat(1, static_cast<int>(noise.size()), CV_8U, noise.data()), 0, 256);
  fs::create_directories(folder.path() / "no-pictures");
  folder.write("no-pictures/notes.txt", "not a picture\n");
  const fs::path noFrames = folder.path() / "no-frames.avi";
  cv::VideoWriter(noFrames.string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25, {64, 48})
      .release();
  ASSERT_TRUE(fs::exists(noFrames));

  struct Case {
    std::string input;
    std::string message;  // the last line on standard error
  };
  const std::vector<Case> cases{
      {folder.write("empty.avi", "").string(), "cannot be opened as a video"},
      {folder.write("noise.avi", noise).string(), "cannot be opened as a video"},
      {noFrames.string(), "no frame could be read"},
      {folder.write("empty.png", "").string(), "not a readable picture"},
      {folder.write("noise.jpg", noise.substr(0, 5000)).string(), "not a readable picture"},
      {(folder.path() / "no-pictures").string(), "the folder holds no pictures"},
      {"camera:97", "camera:97: the camera cannot be opened"},
  };
  for (const Case& c : cases) {
    const Outcome run = cvcomp("run " + example("gray") + " --frames 5 --input " + c.input);
    EXPECT_EQ(run.status, 1) << c.input << "\n" << run.err;
    const std::string last = lastLine(run.err);
    EXPECT_TRUE(last.starts_with("cvcomp: ")) << last;
    EXPECT_TRUE(last.ends_with(c.message)) << c.input << ": " << last;
    EXPECT_EQ(run.lines, 0u);
  }

  // What can be decoded of a truncated clip or picture is used; the run then ends normally.
  Outcome run = cvcomp("run " + example("gray") + " --json - --input " +
                       folder.write("truncated.avi", clip.substr(0, clip.size() / 4)).string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_GT(run.lines, 10u);
  EXPECT_LT(run.lines, 200u);
  run = cvcomp("run " + example("gray") + " --json - --input " +
               folder.write("truncated.jpg", photo.substr(0, photo.size() / 3)).string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.lines, 1u);
}

TEST_F(BadInput, EveryExampleTakesPicturesOfAwkwardAndChangingSizes) {
  const std::vector<cv::Size> sizes{{64, 48}, {1, 1},   {33, 17}, {7, 3},
                                    {2, 640}, {641, 2}, {1, 1},   {200, 151}};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    picture("sizes/" + std::to_string(10 + i) + ".png", sizes[i]);
  }
  const fs::path huge = picture("huge.jpg", {4096, 4096});
  for (const std::string& name : kExamples) {
    Outcome run =
        cvcomp("run " + example(name) + " --json - --input " + (folder.path() / "sizes").string());
    EXPECT_EQ(run.status, 0) << name << "\n" << run.err;
    EXPECT_EQ(run.lines, sizes.size()) << name;
    run = cvcomp("run " + example(name) + " --json - --input " + huge.string());
    EXPECT_EQ(run.status, 0) << name << "\n" << run.err;
    EXPECT_EQ(run.lines, 1u) << name;
  }
}

TEST_F(BadInput, FilesWithoutACascadeFindNoFaces) {
  // Each kind of bad cascade file, with its message, is checked where it is loaded; here the
  // whole runner meets a few of them, the one that crashes OpenCV's reader among them.
  const std::vector<fs::path> bad{
      folder.path() / "missing.xml",
      folder.path(),
      folder.write("other.xml",
                   "<?xml version=\"1.0\"?>\n<opencv_storage>\n<camera>1</camera>\n"
                   "</opencv_storage>\n"),
      folder.write("reader-crash.xml", "<?xml n ="),
  };
  for (const fs::path& file : bad) {
    const Outcome run =
        cvcomp("run " + example("face-detect") + " --frames 3 --json - --input " +
               test::sample("baboon.jpg").string() + " --set cascade.inputPath=" + file.string());
    EXPECT_EQ(run.status, 0) << file << "\n" << run.err;
    ASSERT_EQ(run.lines, 1u) << file;
    EXPECT_TRUE(nlohmann::json::parse(run.out)["faces.outputRects"].is_null()) << run.out;
  }
}

TEST_F(BadInput, PointsNoPictureHoldsAreLostPoints) {
  const fs::path composition = folder.write("track.json", R"({
    "patches": {
      "src": {"class": "ImageSource", "inputs": {"inputPath": "pattern:160x120"}},
      "start": {"class": "Pulse", "inputs": {"inputFrames": "0"}},
      "toCV": {"class": "QCImageToOpenCVImage"},
      "gray": {"class": "OpenCVBGR2Gray"},
      "tracker": {"class": "OpenCVCalcOpticalFlowPyrLK", "inputs": {"inputPoints": {
        "Point0000": {"X": 1e300, "Y": -1e300}, "Point0001": {"X": 50, "Y": -40},
        "Point0002": {"X": 0.1, "Y": 0.05}, "Point0003": {"X": "left", "Y": true}}}}
    },
    "connections": [
      {"from": "src.outputImage", "to": "toCV.inputImage"},
      {"from": "toCV.outputImage", "to": "gray.inputImage"},
      {"from": "gray.outputImage", "to": "tracker.inputImage"},
      {"from": "start.outputSignal", "to": "tracker.inputUseInputPointsSignal"}
    ],
    "publish": ["tracker.outputPoints"]
  })");
  const Outcome run = cvcomp("run " + composition.string() + " --frames 5 --json -");
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.lines, 5u);
  const nlohmann::json last =
      nlohmann::json::parse(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1));
  const nlohmann::json& points = last["tracker.outputPoints"];
  ASSERT_EQ(points.size(), 4u) << last;
  EXPECT_EQ(points["Point0000"]["X"], 1) << last;
  EXPECT_EQ(points["Point0001"]["X"], 1) << last;
  EXPECT_NE(points["Point0002"]["X"], 1) << last;
}

TEST_F(BadInput, AnErrorRepeatedEveryFrameIsPrintedOnceWithItsCount) {
  // A board search in a 3 × 5 picture fails inside OpenCV on every frame.
  const Outcome run = cvcomp("run " + example("chessboard") + " --frames 40 --input pattern:3x5");
  EXPECT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.err);
  std::vector<std::string> reports;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("OpenCVFindChessboardCorners: ")) reports.push_back(line);
  }
  ASSERT_EQ(reports.size(), 2u) << run.err;
  EXPECT_TRUE(reports[0].starts_with("OpenCVFindChessboardCorners: OpenCV(")) << reports[0];
  EXPECT_EQ(reports[1], "OpenCVFindChessboardCorners: repeated 39 more times: " +
                            reports[0].substr(std::string("OpenCVFindChessboardCorners: ").size()));
}

}  // namespace
}  // namespace cvcomp
