// The runner against bad input: unreadable compositions, frame sources that are missing, empty,
// truncated, corrupt or too large, folders with links that lead nowhere, pictures of awkward and
// changing sizes. Each ends with a clear message or the documented nil/empty output; none may make
// cvcomp die by a signal, hang or report a sanitizer error.

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.hpp"
#include "host/patches/FrameReader.hpp"

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
  static std::size_t lines(const Outcome& run) { return test::lineCount(run.out); }
  static std::string example(const std::string& name) { return test::example(name + ".json"); }

  const test::TempFolder folder;
};

TEST_F(BadInput, CompositionFilesThatCannotBeReadAreNamed) {
  // Deep nesting stays within the stack.
  std::string nested = R"({"patches": {"d": {"class": "Overlay", "inputs": {"inputStructure": )";
  for (int level = 0; level < 100000; ++level) nested += "{\"a\":";
  const fs::path deep = folder.write("deep.json", nested + "1" + std::string(100004, '}'));
  // /proc/self/mem opens, but reading fails (as root, no permission makes a file unreadable); a
  // device that never ends and a FIFO that no one writes are refused before they are read, a
  // file larger than a composition can be before it fills the memory.
  const fs::path fifo = folder / "fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path large = folder.write("large.json", "");
  fs::resize_file(large, 17u << 20);
  const std::string notRegular =
      "not a regular file (a FIFO, socket or device), not a composition file";
  for (const auto& [command, file, message] :
       {std::tuple{"check ", "/proc/self/mem", std::string("cannot be read")},
        {"check ", "/dev/zero", notRegular},
        {"run ", fifo.c_str(), notRegular},
        {"check ", large.c_str(), "larger than 16 MiB, not a composition file"},
        {"run ", deep.c_str(), "values are nested more than 64 levels deep"}}) {
    const Outcome run = cvcomp(command + std::string(file));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "cvcomp: " + std::string(file) + ": " + message + "\n");
  }
}

TEST_F(BadInput, FrameSourcesThatCannotBeReadEndTheRunWithTheirName) {
  std::string noise(100000, '\0');
  cv::randu(cv::Mat(1, static_cast<int>(noise.size()), CV_8U, noise.data()), 0, 256);
  // An MJPG video of `frames` black frames of `size`.
  const auto video = [&](const std::string& name, cv::Size size, int frames) {
    cv::VideoWriter writer((folder / name).string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           25, size);
    for (int frame = 0; frame < frames; ++frame) writer.write(cv::Mat::zeros(size, CV_8UC3));
    return (folder / name).string();
  };
  // A valid PNG of 1 × 1 pixel whose header, checksum included, claims 30000 × 30000: decoding
  // that would take 2.7 GB.
  std::vector<uchar> png;
  ASSERT_TRUE(cv::imencode(".png", cv::Mat(1, 1, CV_8UC1, cv::Scalar(0)), png));
  const auto put = [&png](std::size_t at, uLong value) {
    for (std::size_t i = 0; i < 4; ++i) png[at + i] = static_cast<uchar>(value >> (24 - 8 * i));
  };
  put(16, 30000);  // the IHDR chunk's width and height, after its length and type
  put(20, 30000);
  put(29, crc32(0, png.data() + 12, 17));  // over the chunk's type and data
  const std::string cutPng = test::contents(test::sample("box.png"));
  fs::create_symlink("loop.png", folder / "loop.png");
  // Opening a FIFO waits for a writer: it is refused, whatever its name says.
  for (const char* name : {"fifo.avi", "fifo.png"}) {
    ASSERT_EQ(mkfifo((folder / name).c_str(), 0600), 0);
  }
  const std::string notRegular =
      ": not a regular file (a FIFO, socket or device); a camera is camera:N";

  // The input, and how the last line on standard error ends.
  const std::vector<std::pair<std::string, std::string>> cases{
      {folder.write("empty.avi", "").string(), "cannot be opened as a video"},
      {folder.write("noise.avi", noise).string(), "cannot be opened as a video"},
      {video("no-frames.avi", {64, 48}, 0), "no frame could be read"},
      {folder.write("empty.png", "").string(), "not a readable picture"},
      {folder.write("noise.jpg", noise.substr(0, 5000)).string(), "not a readable picture"},
      {folder.write("cut.png", cutPng.substr(0, cutPng.size() / 2)).string(),
       "the picture's pixels cannot be decoded: the file is damaged or cut short"},
      {folder.write("huge.png", std::string(png.begin(), png.end())).string(),
       "30000 × 30000 pixels, more than the 8192 × 8192 a frame may have"},
      {video("wide.avi", {8200, 8}, 1),
       "8200 × 8 pixels, more than the 8192 × 8192 a frame may have"},
      {(folder / "loop.png").string(), "loop.png: Too many levels of symbolic links"},
      {folder.write("no-pictures/notes.txt", "text\n").parent_path().string(),
       "the folder holds no pictures"},
      {folder.write("bad-pictures/noise.png", noise).parent_path().string(),
       "bad-pictures: no picture in the folder can be read"},
      {(folder / "fifo.avi").string(), "fifo.avi" + notRegular},
      {(folder / "fifo.png").string(), "fifo.png" + notRegular},
      {"/dev/zero", "/dev/zero" + notRegular},
      {"camera:97", "camera:97: the camera cannot be opened"},
      {"pattern:0x10", "a pattern needs a size WxH from 1x1 to 8192x8192"},
      {"''", "no input: the path is empty"},
  };
  for (const auto& [input, message] : cases) {
    const Outcome run = cvcomp("run " + example("gray") + " --frames 5 --input " + input);
    EXPECT_EQ(run.status, 1) << input << "\n" << run.err;
    const std::string last = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
    EXPECT_TRUE(last.starts_with("cvcomp: ") && last.ends_with(message + "\n")) << last;
    EXPECT_EQ(lines(run), 0u);
  }

  // What can be decoded of the first quarter of a clip or the first third of a JPEG picture is
  // used; the run then ends normally.
  for (const auto& [name, part, least, most] :
       {std::tuple{"Megamind.avi", 4, 11u, 199u}, {"baboon.jpg", 3, 1u, 1u}}) {
    const std::string bytes = test::contents(test::sample(name));
    const fs::path cut =
        folder.write(std::string("cut-") + name, bytes.substr(0, bytes.size() / part));
    const Outcome run = cvcomp("run " + example("gray") + " --json - --input " + cut.string());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_GE(lines(run), least);
    EXPECT_LE(lines(run), most);
  }
}

TEST_F(BadInput, AFolderSkipsEntriesThatCannotBeResolvedOrDecoded) {
  const std::string photo = test::contents(test::sample("box.png"));
  const fs::path shots = folder.write("shots/a.png", photo).parent_path();
  fs::create_symlink("there", shots / "back");
  fs::create_symlink("back", shots / "there");
  folder.write("shots/cut.png", photo.substr(0, photo.size() / 2));
  folder.write("shots/huge.pgm", "P5\n# a header alone\n9000 12000\n255\n");

  const Outcome run = cvcomp("run " + example("gray") + " --json - --input " + shots.string());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(lines(run), 1u);
  for (const auto& [entry, reason] : std::initializer_list<std::pair<std::string, std::string>>{
           {"back", "Too many levels of symbolic links"},
           {"there", "Too many levels of symbolic links"},
           {"cut.png", "the picture's pixels cannot be decoded: the file is damaged or cut short"},
           {"huge.pgm", "9000 × 12000 pixels, more than the 8192 × 8192 a frame may have"}}) {
    const std::string warning = "cvcomp: skipping " + (shots / entry).string() + ": " + reason;
    EXPECT_NE(run.err.find(warning + "\n"), std::string::npos) << warning << "\n" << run.err;
  }
}

// Each format the picture source reads gives its size in its header: a picture is read at that
// size up to 8192 on a side, and a larger one is refused before it is decoded, its size named.
TEST_F(BadInput, PicturesAreSizedFromTheirHeaderAndRefusedWhenTooLarge) {
  const auto dimensions = [](cv::Size size) {
    return std::to_string(size.width) + " × " + std::to_string(size.height);
  };
  const cv::Mat photo = test::samplePicture("fruits.jpg");
  std::size_t number = 0;
  for (const auto& [extension, parameters, channels] :
       std::initializer_list<std::tuple<std::string, std::vector<int>, int>>{
           {".png", {}, 3},
           {".jpg", {}, 3},
           {".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}, 3},
           {".bmp", {}, 3},
           {".tif", {}, 3},
           {".webp", {cv::IMWRITE_WEBP_QUALITY, 80}, 3},
           {".webp", {cv::IMWRITE_WEBP_QUALITY, 101}, 3},  // lossless
           {".webp", {cv::IMWRITE_WEBP_QUALITY, 80}, 4},   // transparent: the extended header
           {".jp2", {}, 3},
           {".pgm", {}, 1},
           {".pbm", {}, 1}}) {
    // Within and beyond the limit on each side; JPEG 2000's encoder needs 32 pixels a side.
    for (const cv::Size size :
         {cv::Size(45, 33), cv::Size(8192, 32), cv::Size(8193, 35), cv::Size(37, 8200)}) {
      cv::Mat picture, frame;
      cv::resize(photo, picture, size, 0, 0, cv::INTER_AREA);
      if (channels != 3)
        cv::cvtColor(picture, picture, channels == 1 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGR2BGRA);
      const fs::path file = folder / (std::to_string(number++) + extension);
      ASSERT_TRUE(cv::imwrite(file.string(), picture, parameters)) << file;
      const std::string refusal =
          test::refusal([&] { openFrameSource(file.string(), {})->read(frame); });
      EXPECT_EQ(frame.empty() ? refusal : dimensions(frame.size()),
                std::max(size.width, size.height) <= 8192
                    ? dimensions(size)
                    : file.string() + ": " + dimensions(size) +
                          " pixels, more than the 8192 × 8192 a frame may have");
    }
  }
}

// The system's calls take a NUL character for the end of a path: "baboon.jpg\0.avi" would
// open baboon.jpg.
TEST_F(BadInput, APathThatHoldsANulCharacterIsRefused) {
  const std::string path("baboon.jpg\0.avi", 15);
  EXPECT_EQ(test::refusal([&] { openFrameSource(path, test::sample("baboon.jpg").parent_path()); }),
            "baboon.jpg\\0.avi: a path holds a NUL character");
}

TEST_F(BadInput, EveryExampleTakesPicturesOfAwkwardAndChangingSizes) {
  // One run through pictures whose size changes on every frame: the smallest, odd widths, thin
  // ones and the largest.
  const std::vector<cv::Size> sizes{{64, 48}, {1, 1}, {33, 17}, {2, 641}, {4096, 4096}, {7, 3}};
  cv::Mat image;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    cv::resize(test::samplePicture("fruits.jpg"), image, sizes[i], 0, 0, cv::INTER_AREA);
    ASSERT_TRUE(cv::imwrite(folder / (std::to_string(10 + i) + ".png"), image));
  }
  for (const std::string name :
       {"gray", "track-features", "face-detect", "edges-lines", "chessboard", "logpolar"}) {
    const Outcome run =
        cvcomp("run " + example(name) + " --json - --input " + folder.path().string());
    EXPECT_EQ(run.status, 0) << name << "\n" << run.err;
    EXPECT_EQ(lines(run), sizes.size()) << name;
  }
}

}  // namespace
}  // namespace cvcomp
