// The runner against bad input: unreadable compositions, frame sources that are missing, empty,
// truncated or corrupt, pictures of awkward and changing sizes, and cascade files that hold no
// cascade. Each ends with a clear message or the documented nil/empty output; none may make
// cvcomp die by a signal, hang or report a sanitizer error.

#include <algorithm>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;
using test::Outcome;

class BadInput : public testing::Test {
 protected:
  // Runs cvcomp and checks what every run must satisfy: it ended by itself with one of cvcomp's
  // exit statuses and without a sanitizer report.
  Outcome cvcomp(const std::string& arguments) {
    const Outcome run = test::cvcomp(arguments);
    EXPECT_LE(run.status, 2) << arguments << "\n" << run.err;
    EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("runtime error"), std::string::npos) << run.err;
    return run;
  }
  static std::size_t lines(const Outcome& run) {
    return static_cast<std::size_t>(std::count(run.out.begin(), run.out.end(), '\n'));
  }
  static std::string example(const std::string& name) { return test::example(name + ".json"); }

  const test::TempFolder folder;
};

TEST_F(BadInput, CompositionFilesThatCannotBeReadAreNamed) {
  // Opens, but reading fails (as root, no permission makes a file unreadable).
  Outcome run = cvcomp("check /proc/self/mem");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "cvcomp: /proc/self/mem: cannot be read\n");

  // A device that never ends is refused before it fills the memory.
  run = cvcomp("check /dev/zero");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "cvcomp: /dev/zero: larger than 16 MiB, not a composition file\n");

  // Deep nesting stays within the stack.
  std::string deepStructure;
  for (int level = 0; level < 100000; ++level) deepStructure += "{\"a\":";
  deepStructure += "1" + std::string(100000, '}');
  const fs::path deep = folder.write(
      "deep.json", R"({"patches": {"d": {"class": "Overlay", "inputs": {"inputStructure": )" +
                       deepStructure + "}}}}");
  run = cvcomp("run " + deep.string());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "cvcomp: " + deep.string() + ": values are nested more than 64 levels deep\n");
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
      {"pattern:0x10", "a pattern needs a size WxH from 1x1 to 8192x8192"},
      {"''", "no input: the path is empty"},
  };
  for (const Case& c : cases) {
    const Outcome run = cvcomp("run " + example("gray") + " --frames 5 --input " + c.input);
    EXPECT_EQ(run.status, 1) << c.input << "\n" << run.err;
    // The last line on standard error names the problem.
    const std::string last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
    EXPECT_TRUE(last.starts_with("cvcomp: ") && last.ends_with(c.message + "\n")) << last;
    EXPECT_EQ(lines(run), 0u);
  }

  // What can be decoded of a truncated clip or picture is used; the run then ends normally.
  Outcome run = cvcomp("run " + example("gray") + " --json - --input " +
                       folder.write("truncated.avi", clip.substr(0, clip.size() / 4)).string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_GT(lines(run), 10u);
  EXPECT_LT(lines(run), 200u);
  run = cvcomp("run " + example("gray") + " --json - --input " +
               folder.write("truncated.jpg", photo.substr(0, photo.size() / 3)).string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(lines(run), 1u);
}

TEST_F(BadInput, EveryExampleTakesPicturesOfAwkwardAndChangingSizes) {
  // One run through pictures whose size changes on every frame: the smallest, odd widths, thin
  // ones and the largest.
  const std::vector<cv::Size> sizes{{64, 48}, {1, 1}, {33, 17}, {2, 641}, {4096, 4096}, {7, 3}};
  cv::Mat image;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    cv::resize(test::samplePicture("fruits.jpg"), image, sizes[i], 0, 0, cv::INTER_AREA);
    const fs::path file = folder / ("sizes/" + std::to_string(10 + i) + ".png");
    fs::create_directories(file.parent_path());
    ASSERT_TRUE(cv::imwrite(file.string(), image)) << file;
  }
  for (const std::string name :
       {"gray", "track-features", "face-detect", "edges-lines", "chessboard", "logpolar"}) {
    const Outcome run =
        cvcomp("run " + example(name) + " --json - --input " + (folder / "sizes").string());
    EXPECT_EQ(run.status, 0) << name << "\n" << run.err;
    EXPECT_EQ(lines(run), sizes.size()) << name;
  }
}

TEST_F(BadInput, AFileThatCrashesOpenCVsCascadeReaderFindsNoFaces) {
  // Each kind of bad cascade file, with its message, is checked where it is loaded; here the
  // whole runner meets the one that crashes OpenCV's reader.
  const Outcome run = cvcomp("run " + example("face-detect") + " --frames 3 --json - --input " +
                             test::sample("baboon.jpg").string() + " --set cascade.inputPath=" +
                             folder.write("crash.xml", "<?xml n =").string());
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(lines(run), 1u);
  EXPECT_TRUE(nlohmann::json::parse(run.out)["faces.outputRects"].is_null()) << run.out;
}

}  // namespace
}  // namespace cvcomp
