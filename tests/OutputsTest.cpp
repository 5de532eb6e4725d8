// The runner's outputs: a write that fails ends the run at that frame with the file named and
// what was written before readable; outputs that no writer takes or that would destroy an input
// are refused before anything is opened.

#include <sys/mount.h>

#include <opencv2/imgcodecs.hpp>

#include "TestSupport.hpp"

namespace cvcomp {
namespace {

namespace fs = std::filesystem;
using test::cvcomp;
using test::Outcome;

// A small file system of its own (tmpfs) that fills up; mounting needs root, as in CI.
struct SmallFileSystem {
  SmallFileSystem(const fs::path& at, const std::string& size) : folder(at) {
    fs::create_directories(folder);
    mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted) ::umount2(folder.c_str(), MNT_DETACH);
  }
  const fs::path folder;
  bool mounted;
};

// What an output holds: whole JSON lines numbering the frames from 0 on, numbered pictures that
// are each a whole PNG picture (no partial picture is left behind), or the frames a video plays.
std::size_t written(const fs::path& file) {
  if (file.extension() == ".jsonl") {
    const std::vector<nlohmann::json> lines = test::jsonLines(test::contents(file));
    for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i]["frame"], i) << file;
    return lines.size();
  }
  if (file.string().find('%') == std::string::npos) return test::playedFrames(file);
  std::size_t count = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(file.parent_path())) {
    EXPECT_EQ(entry.path().extension(), ".png");
    EXPECT_FALSE(cv::imread(entry.path().string()).empty()) << entry.path();
    ++count;
  }
  return count;
}

std::string option(const fs::path& file) {
  return (file.extension() == ".jsonl" ? " --json " : " --video ") + file.string();
}

// An output that fills a small file system, beside one in an ordinary folder: the run's
// arguments, the output's name in the small file system and the one beside.
class OutputsOnAFullDisk
    : public testing::TestWithParam<std::tuple<std::string, std::string, std::string>> {};

TEST_P(OutputsOnAFullDisk, EndTheRunAtThatFrameAndKeepWhatWasWritten) {
  const auto& [arguments, name, beside] = GetParam();
  const test::TempFolder folder;
  const SmallFileSystem small(folder / "small", "1m");
  if (!small.mounted) GTEST_SKIP() << "mounting a tmpfs needs root";
  const fs::path full = folder / "small" / name;
  // The test scene and the tracked clip go on well beyond what the file system takes.
  const Outcome run =
      cvcomp("run " + test::example(arguments) + option(full) + option(folder / beside));
  EXPECT_EQ(run.status, 1);
  const std::size_t frames = written(full);
  EXPECT_GT(frames, 0u);
  // Numbered pictures name the picture of the frame that met the full disk.
  EXPECT_EQ(run.err, "cvcomp: " + cv::format(full.c_str(), frames) + ": no space left on device\n");
  // The run ended at that frame: the other output holds at most that frame more.
  EXPECT_LE(written(folder / beside), frames + 1);
}

constexpr const char* kScene = "gray.json --input pattern:320x240";
INSTANTIATE_TEST_SUITE_P(Outputs, OutputsOnAFullDisk,
                         testing::Values(std::tuple{kScene, "out.avi", "lines.jsonl"},
                                         std::tuple{kScene, "out.mp4", "lines.jsonl"},
                                         std::tuple{kScene, "f%05d.png", "lines.jsonl"},
                                         std::tuple{"track-features.json", "lines.jsonl",
                                                    "out.avi"}),
                         [](const auto& run) {
                           return fs::path(std::get<1>(run.param)).extension().string().substr(1);
                         });

TEST(Outputs, FullDevicesAndFileSizeLimitsEndTheRunWithTheFileNamed) {
  const std::string gray = "run " + test::example("gray.json");
  Outcome run = cvcomp(gray + " --json - >/dev/full");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "cvcomp: standard output: no space left on device\n");

  // A file-size limit of 1 MiB (512-byte blocks for dash) fails the write, and the video keeps its
  // index.
  const test::TempFolder folder;
  run = cvcomp(gray + " --input pattern:320x240 --video " + (folder / "out.avi").string(),
               "ulimit -f 2048; ");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "cvcomp: " + (folder / "out.avi").string() + ": file too large\n");
  EXPECT_GT(test::playedFrames(folder / "out.avi"), 0u);
}

TEST(Outputs, ThoseThatNoWriterTakesOrThatWouldDestroyAnInputAreRefusedBeforeTheRun) {
  const test::TempFolder folder;
  const std::string clipBytes = test::contents(test::sample("vtest.avi"));
  const fs::path clip = folder.write("clip.avi", clipBytes);
  const fs::path shots =
      folder.write("shots/f00001.png", test::contents(test::sample("baboon.jpg"))).parent_path();
  fs::create_directory_symlink(folder.path(), folder / "link");
  const std::string dir = folder.path().string();
  const fs::path composition =
      folder.write("gray.json", test::contents(test::example("gray.json")));

  // The arguments, and how standard error's one line starts after "cvcomp: ".
  const std::vector<std::pair<std::string, std::string>> cases{
      {"--video " + dir + "/out", dir + "/out: no extension tells a video (.avi"},
      {"--video " + dir + "/out.xyz", dir + "/out.xyz: \".xyz\" is neither a video"},
      {"--video " + dir + "/f%d", dir + "/f%d: numbered frames are pictures (.png"},
      {"--video " + dir + "/f%d%d.png",
       dir + "/f%d%d.png: a numbered name holds exactly one %d (or %05d)\n"},
      // Outputs compared with the inputs by identity, however they are spelled.
      {"--input " + clip.string() + " --json " + dir + "/link/./clip.avi",
       dir + "/link/./clip.avi: would overwrite " + clip.string() + ", which the run reads\n"},
      {"--json " + composition.string(), composition.string() + ": would overwrite"},
      {"--input " + shots.string() + " --video " + shots.string() + "/g%03d.png",
       shots.string() + "/g%03d.png: would be written into " + shots.string()},
      {"--input " + (shots / "f00001.png").string() + " --video " + dir + "/link/shots/f%05d.png",
       dir + "/link/shots/f%05d.png: would overwrite " + shots.string()},
      {"--json " + dir + "/x.avi --video " + dir + "/link/x.avi",
       dir + "/x.avi: named for both the JSON lines and the video\n"},
      // Frame counts other than a positive whole number.
      {"--frames -5",
       "--frames: a whole number from 1 to 18446744073709551615 is required, not \"-5\"\n"},
      {"--frames ''", "--frames: a whole number from 1"},
      {"--frames 0", "--frames: a whole number from 1"},
      {"--frames 18446744073709551616", "--frames: a whole number from 1"},
      // A NUL would cut the path short: clip.avi would be read.
      {"--set 'src.inputPath=\"" + clip.string() + "\\u0000.txt\"'",
       "--set src.inputPath=\"" + clip.string() + "\\u0000.txt\": the text holds a NUL"},
  };
  // Every file and folder in the test's folder with its size.
  const std::string listing = "find " + dir + " -printf '%p %s\\n' | sort";
  const std::string before = test::shell(listing).out;
  for (const auto& [arguments, message] : cases) {
    const Outcome run = cvcomp("run " + composition.string() + " " + arguments);
    EXPECT_EQ(run.status, 2) << arguments;
    EXPECT_TRUE(run.err.starts_with("cvcomp: " + message)) << run.err;
    EXPECT_EQ(test::lineCount(run.err), 1u) << run.err;
    EXPECT_EQ(test::shell(listing).out, before) << arguments;
  }
  EXPECT_EQ(test::contents(clip), clipBytes);
}

TEST(Outputs, OpenCVsOwnReportsShowOnlyWithVerbose) {
  const test::TempFolder folder;
  const std::string clip = test::contents(test::sample("Megamind.avi"));
  const std::string run = "run " + test::example("gray.json") + " --json /dev/null --input " +
                          folder.write("cut.avi", clip.substr(0, 300000)).string();
  const Outcome quiet = cvcomp(run);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  // FFmpeg reports the damaged last frame of the cut clip.
  const Outcome verbose = cvcomp(run + " --verbose");
  EXPECT_EQ(verbose.status, 0);
  EXPECT_NE(verbose.err.find("[mpeg4 @"), std::string::npos) << verbose.err;
}

}  // namespace
}  // namespace cvcomp
