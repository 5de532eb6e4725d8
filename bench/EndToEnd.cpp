#include <algorithm>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <utility>

#include <opencv2/videoio.hpp>

#include "Comparison.hpp"
#include "Frames.hpp"
#include "Processes.hpp"

namespace cvcomp::bench {

namespace {

const std::string kRunnerOutput = "/tmp/cvcomp-bench-runner.jsonl";
const std::string kHandOutput = "/tmp/cvcomp-bench-hand.jsonl";

// One whole run of the runner.
ProcessRun runnerRound(const Case& c, const EndToEndPrograms& programs) {
  std::vector<std::string> arguments{
      programs.cvcomp,          "run",     c.composition, "--input",    c.input, "--frames",
      std::to_string(c.frames), "--quiet", "--json",      kRunnerOutput};
  for (const auto& [path, value] : c.settings) {
    arguments.insert(arguments.end(), {"--set", path + "=" + value});
  }
  if (!c.firstRuns) return runProcess(arguments, "/dev/null");
  const TemporaryFolder emptyCache;
  return runProcess(arguments, "/dev/null", {"XDG_CACHE_HOME=" + emptyCache.path().string()});
}

// One whole run of the hand loop as a program of its own, like the runner's: this program started
// again to run only that loop, which reports its frames and the ms it spent decoding them.
std::pair<ProcessRun, HandRun> handRound(const Case& c, const EndToEndPrograms& programs) {
  const std::string report = (programs.clips / "hand-run.txt").string();
  const ProcessRun run = runProcess(
      {programs.bench, "hand-run", "--only", c.name, "--clips", programs.clips.string()}, report);
  HandRun hand;
  if (!(std::ifstream(report) >> hand.frames >> hand.decodingMs)) {
    throw std::runtime_error("no report from the hand loop of " + c.name);
  }
  return {run, hand};
}

// Adds a run of one side to its rounds, per frame.
void record(const ProcessRun& run, double frames, std::vector<double>& wallRounds,
            std::vector<double>& cpuRounds, long& peakKiB) {
  wallRounds.push_back(run.wallMs / frames);
  cpuRounds.push_back(run.cpuMs / frames);
  peakKiB = std::max(peakKiB, run.peakMemoryKiB);
}

}  // namespace

HandRun runHandLoop(const Case& c) {
  cv::VideoCapture clip(c.input);
  if (!clip.isOpened()) throw std::runtime_error(c.input + ": cannot be opened");
  const double fps = clip.get(cv::CAP_PROP_FPS) > 0.0 ? clip.get(cv::CAP_PROP_FPS) : 30.0;
  const std::unique_ptr<HandLoop> loop = c.handLoop();
  std::ofstream out(kHandOutput);
  cv::Mat decoded;
  HandRun run;
  for (;;) {
    const Clock::time_point start = Clock::now();
    if (run.frames == c.frames || !clip.read(decoded)) break;
    const Bitmap frame = bitmapOf(decoded);
    run.decodingMs += millisecondsSince(start);
    loop->process(frame, run.frames);
    loop->writeLine(out, run.frames, static_cast<double>(run.frames) / fps);
    ++run.frames;
  }
  return run;
}

void makeClip(const Clip& clip, const std::string& cvcomp) {
  runProcess(
      {cvcomp, "run", clip.resizing, "--input", clip.source, "--frames",
       std::to_string(clip.frames), "--set", "resize.inputWidth=" + std::to_string(clip.width),
       "--set", "resize.inputHeight=" + std::to_string(clip.height), "--video", clip.path.string(),
       "--quiet"},
      "/dev/null");
}

Measurement compareEndToEnd(const Case& c, int rounds, const EndToEndPrograms& programs,
                            bool againstItself) {
  Measurement m;
  // Each side once before the rounds, to bring the files into the cache; the hand loop's run also
  // counts the frames.
  m.frames = handRound(c, programs).second.frames;
  Case oneFrame = c;
  oneFrame.frames = 1;
  runnerRound(oneFrame, programs);
  const double frames = static_cast<double>(m.frames);

  std::vector<double> decodingRounds;
  const auto hand = [&] {
    const auto [run, report] = handRound(c, programs);
    decodingRounds.push_back(report.decodingMs / frames);
    return run;
  };
  const auto composition = [&] { return againstItself ? hand() : runnerRound(c, programs); };
  // The two sides take turns going first, so that neither always follows the other.
  for (int r = 0; r < rounds; ++r) {
    if (r % 2 == 1) record(hand(), frames, m.handRounds, m.handCpuRounds, m.handPeakKiB);
    record(composition(), frames, m.compositionRounds, m.compositionCpuRounds,
           m.compositionPeakKiB);
    if (r % 2 == 0) record(hand(), frames, m.handRounds, m.handCpuRounds, m.handPeakKiB);
  }
  m.compositionMs = median(m.compositionRounds);
  m.handMs = median(m.handRounds);
  m.decodingMs = median(decodingRounds);
  return m;
}

}  // namespace cvcomp::bench
