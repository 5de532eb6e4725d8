#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <opencv2/videoio.hpp>

#include "Comparison.hpp"
#include "Frames.hpp"

namespace cvcomp::bench {

namespace {

const std::string kRunnerOutput = "/tmp/cvcomp-bench-runner.jsonl";
const std::string kHandOutput = "/tmp/cvcomp-bench-hand.jsonl";

// Single quotes for the shell.
std::string quoted(const std::string& text) {
  std::string result = "'";
  for (char ch : text) result += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return result + "'";
}

// One whole run of the runner, in ms.
double runnerRound(const Case& c, const std::string& program) {
  std::string command = quoted(program) + " run " + quoted(c.composition) + " --input " +
                        quoted(c.input) + " --frames " + std::to_string(c.frames) +
                        " --quiet --json " + quoted(kRunnerOutput);
  for (const auto& [path, value] : c.settings) command += " --set " + quoted(path + "=" + value);
  const Clock::time_point start = Clock::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
  return millisecondsSince(start);
}

// One whole run of the hand loop as a program of its own, like the runner's: this program started
// again to run only that loop. Returns its ms and adds the ms it spent decoding to `decodingMs`.
double handRound(const Case& c, std::vector<double>& decodingMs) {
  const std::string command = quoted(std::filesystem::read_symlink("/proc/self/exe").string()) +
                              " hand-run --only " + quoted(c.name);
  const Clock::time_point start = Clock::now();
  FILE* run = popen(command.c_str(), "r");
  if (run == nullptr) throw std::runtime_error("cannot start: " + command);
  double decoding = -1.0;
  const bool reported = std::fscanf(run, "%lf", &decoding) == 1;
  if (pclose(run) != 0 || !reported) throw std::runtime_error("failed: " + command);
  const double ms = millisecondsSince(start);
  decodingMs.push_back(decoding);
  return ms;
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

Measurement compareEndToEnd(const Case& c, int rounds, const std::string& program) {
  Measurement m;
  m.frames = runHandLoop(c).frames;  // also warms the file cache for both sides
  std::vector<double> decodingRounds;
  // The two sides take turns going first, so that neither always follows the other.
  for (int r = 0; r < rounds; ++r) {
    if (r % 2 == 1) m.handRounds.push_back(handRound(c, decodingRounds));
    m.compositionRounds.push_back(runnerRound(c, program));
    if (r % 2 == 0) m.handRounds.push_back(handRound(c, decodingRounds));
  }
  const double frames = static_cast<double>(m.frames);
  for (double& round : m.compositionRounds) round /= frames;
  for (double& round : m.handRounds) round /= frames;
  m.compositionMs = median(m.compositionRounds);
  m.handMs = median(m.handRounds);
  m.decodingMs = median(decodingRounds) / frames;
  return m;
}

}  // namespace cvcomp::bench
