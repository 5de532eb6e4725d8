#include "Cases.hpp"

#include <initializer_list>
#include <string_view>

namespace cvcomp::bench {

namespace {

// The pieces one after the other (GCC 12 at -O3 warns falsely about operator+ chains of strings).
std::string joined(std::initializer_list<std::string_view> pieces) {
  std::string text;
  for (std::string_view piece : pieces) text += piece;
  return text;
}

const std::string kExamples = CVCOMP_SOURCE_DIR "/examples/";
const std::string kBenchCompositions = CVCOMP_SOURCE_DIR "/bench/compositions/";
const std::string kData = CVCOMP_SAMPLE_DATA "/";

Case face(double scale, std::size_t frames) {
  return {joined({"face detection, image scale ", std::to_string(scale).substr(0, 3)}),
          kExamples + "face-detect.json",
          kData + "Megamind.avi",
          frames,
          {{"faces.inputImageScale", std::to_string(scale)}},
          [scale] { return faceLoop(scale); }};
}

Case track(std::size_t points, std::size_t frames, double quality = 0.01) {
  Case c{joined({"features + tracking, ", std::to_string(points), " points"}),
         kExamples + "track-features.json",
         kData + "vtest.avi",
         frames,
         {{"features.inputMaxPoints", std::to_string(points)},
          {"features.inputQuality", std::to_string(quality)}},
         [points, quality] { return trackLoop(points, quality); }};
  c.timesJson = true;
  return c;
}

}  // namespace

std::vector<Case> frameCases() {
  return {
      face(2.1, 120),
      face(1.0, 60),
      track(50, 200),
      track(500, 200),
      // A lower corner quality, so that the clip yields the full thousand points.
      track(1000, 200, 0.001),
      {"edges + lines, building.jpg",
       kExamples + "edges-lines.json",
       kData + "building.jpg",
       60,
       {},
       edgesLoop},
      {"edges + lines, vtest.avi",
       kExamples + "edges-lines.json",
       kData + "vtest.avi",
       100,
       {},
       edgesLoop},
      {"chessboard, left*.jpg",
       kExamples + "chessboard.json",
       kExamples + "chessboards",
       52,  // its 13 pictures four times
       {},
       chessboardLoop},
      // Pictures without a board: the patch looks for board corners first, the hand loop runs
      // OpenCV's whole search.
      {"chessboard, no board: vtest.avi",
       kExamples + "chessboard.json",
       kData + "vtest.avi",
       12,
       {},
       chessboardLoop},
      {"chessboard, no board: baboon.jpg",
       kExamples + "chessboard.json",
       kData + "baboon.jpg",
       12,
       {},
       chessboardLoop},
      {"resize 640x480 to 320x240",
       kBenchCompositions + "resize.json",
       "pattern:640x480",
       300,
       {},
       resizeLoop},
      {"log-polar 640x480, round trip",
       kExamples + "logpolar.json",
       "pattern:640x480",
       200,
       {{"logPolar.inputCenterX", "320"},
        {"logPolar.inputCenterY", "240"},
        {"cartesian.inputCenterX", "320"},
        {"cartesian.inputCenterY", "240"},
        {"cartesian.inputWidth", "640"},
        {"cartesian.inputHeight", "480"}},
       [] { return logPolarLoop(640, 480); }},
      {"gray 640x480", kExamples + "gray.json", "pattern:640x480", 300, {}, grayLoop},
  };
}

std::vector<Clip> faceClips(const std::filesystem::path& folder) {
  // Fewer frames of the larger sizes, so that every row takes a similar time.
  const Clip sizes[] = {{{}, {}, {}, 320, 240, 270},
                        {{}, {}, {}, 640, 480, 270},
                        {{}, {}, {}, 1280, 720, 150},
                        {{}, {}, {}, 1920, 1080, 90}};
  std::vector<Clip> clips;
  for (Clip clip : sizes) {
    const std::string size = joined({std::to_string(clip.width), "x", std::to_string(clip.height)});
    clip.path = folder / joined({"megamind-", size, ".avi"});
    clip.source = kData + "Megamind.avi";
    clip.resizing = kBenchCompositions + "resize.json";
    clips.push_back(clip);
  }
  return clips;
}

std::vector<Case> endToEndCases(const std::filesystem::path& clips) {
  std::vector<Case> cases;
  for (const Clip& clip : faceClips(clips)) {
    Case c = face(2.1, clip.frames);
    c.name = joined(
        {"face-detect.json, ", std::to_string(clip.width), "x", std::to_string(clip.height)});
    c.input = clip.path.string();
    c.againstItself = clip.width == 640;
    cases.push_back(c);
  }
  cases.push_back(track(50, 400));
  cases.push_back(track(200, 400));
  cases.back().againstItself = true;
  cases.push_back(track(1000, 400, 0.001));
  return cases;
}

Case startUpCase() {
  return {"start-up: face-detect.json, 1 frame",
          kExamples + "face-detect.json",
          kData + "Megamind.avi",
          1,
          {},
          [] { return faceLoop(2.1); }};
}

}  // namespace cvcomp::bench
