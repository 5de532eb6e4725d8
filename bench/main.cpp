// cvcomp_bench: every example composition through the evaluator against a hand-written loop of
// the same OpenCV calls, measured side by side in alternating rounds.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#include <CLI/CLI.hpp>

#include "Comparison.hpp"
#include "Processes.hpp"

namespace {

using namespace cvcomp::bench;

std::string loadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one;
  file >> one;
  return one.empty() ? "?" : one;
}

// The largest distance of a round from the median.
double largestDistance(const std::vector<double>& rounds, double middle) {
  double largest = 0.0;
  for (double r : rounds) largest = std::max(largest, std::abs(r - middle));
  return largest;
}

// The same in percent of the median.
double spread(const std::vector<double>& rounds, double middle) {
  return middle > 0.0 ? 100.0 * largestDistance(rounds, middle) / middle : 0.0;
}

void printHeader(const char* title, int rounds) {
  std::printf("\n%s\n%u cores, load average %s at start, %d alternating rounds, medians\n", title,
              std::thread::hardware_concurrency(), loadAverage().c_str(), rounds);
}

void printRow(const std::string& name, const Measurement& m, const std::string& extra) {
  const double noise = spread(m.roundRatios(), m.ratio());
  std::printf("%-34s %6zu %11.3f %10.3f %7.3f %6.1f%%  %s\n", name.c_str(), m.frames,
              m.compositionMs, m.handMs, m.ratio(), noise, extra.c_str());
  std::fflush(stdout);
}

std::vector<Case> selected(std::vector<Case> cases, const std::string& only) {
  std::erase_if(cases, [&](const Case& c) { return c.name.find(only) == std::string::npos; });
  return cases;
}

void inMemory(int rounds, const std::string& only) {
  printHeader("In memory: frames decoded first, processing only (ms per frame)", rounds);
  std::printf("%-34s %6s %11s %10s %7s %7s  %s\n", "case", "frames", "composition", "hand loop",
              "ratio", "noise", "buffers allocated in steady state");
  std::vector<std::string> jsonLines;
  for (const Case& c : selected(frameCases(), only)) {
    const Measurement m = compareInMemory(c, rounds);
    printRow(c.name, m, std::to_string(m.steadyAllocations));
    if (c.timesJson) {
      char line[200];
      std::snprintf(line, sizeof line,
                    "%-34s %6zu points %8.3f ms  %5.1f%% of the hand loop's step", c.name.c_str(),
                    m.jsonPoints, m.jsonMs, 100.0 * m.jsonMs / m.handMs);
      jsonLines.emplace_back(line);
    }
  }
  std::printf("\nJSON line of the published points, per frame\n");
  for (const std::string& line : jsonLines) std::printf("%s\n", line.c_str());
}

double mebibytes(long kibibytes) {
  return static_cast<double>(kibibytes) / 1024.0;
}

void printEndToEndRow(const std::string& name, const Measurement& m) {
  char rest[120];
  std::snprintf(rest, sizeof rest, "%6.3f %7.1f %7.1f   %.3f  %4.1f%%", m.cpuRatio(),
                mebibytes(m.compositionPeakKiB), mebibytes(m.handPeakKiB), m.decodingMs,
                100.0 * m.decodingMs / m.handMs);
  printRow(name, m, rest);
}

// The start-up case's rows: the runner with the cascade's verdict known (every run after the
// first on that file), on its first run on the cascade file (an empty cache folder each round, so
// that the cascade is probed), and the hand loop against itself, the control of this run's noise.
struct StartUpRow {
  const char* name;
  bool firstRuns;
  bool againstItself;
};
constexpr StartUpRow kStartUpRows[] = {{"the cascade's verdict known", false, false},
                                       {"first run on the cascade file (probed)", true, false},
                                       {"A/A: the hand loop against itself", false, true}};

std::vector<double> differences(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> result;
  for (std::size_t r = 0; r < a.size() && r < b.size(); ++r) result.push_back(a[r] - b[r]);
  return result;
}

void printStartUpRow(const char* name, const Measurement& m) {
  const std::vector<double> wall = differences(m.compositionRounds, m.handRounds);
  const double difference = median(wall);
  std::printf("%-40s %10.1f %9.1f %10.1f %6.1f %9.1f %7.3f %7.1f %7.1f\n", name, m.compositionMs,
              m.handMs, difference, largestDistance(wall, difference),
              median(differences(m.compositionCpuRounds, m.handCpuRounds)), m.ratio(),
              mebibytes(m.compositionPeakKiB), mebibytes(m.handPeakKiB));
  std::fflush(stdout);
}

void endToEnd(int rounds, const std::string& program, const std::string& only) {
  const TemporaryFolder clips;
  const EndToEndPrograms programs{program, std::filesystem::read_symlink("/proc/self/exe"),
                                  clips.path()};
  const std::vector<Case> cases = selected(endToEndCases(clips.path()), only);
  for (const Clip& clip : faceClips(clips.path())) {
    if (std::any_of(cases.begin(), cases.end(),
                    [&](const Case& c) { return c.input == clip.path.string(); })) {
      makeClip(clip, program);
    }
  }
  printHeader(
      "End to end: whole `cvcomp run` (decode, evaluation, JSON lines) against the "
      "sequential hand loop (ms per frame)",
      rounds);
  // A started program's peak resident memory counts from its parent's at the start.
  std::printf("peak memory of this program, the floor of the peaks below: %.1f MiB\n",
              mebibytes(ownPeakMemoryKiB()));
  std::printf("%-34s %6s %11s %10s %7s %7s  %6s %7s %7s   %s\n", "case", "frames", "cvcomp run",
              "hand loop", "ratio", "noise", "CPU", "MiB run", "MiB hand",
              "hand loop's decoding: ms, share");
  std::vector<Case> controls;
  for (const Case& c : cases) {
    printEndToEndRow(c.name, compareEndToEnd(c, rounds, programs));
    if (c.againstItself) controls.push_back(c);
  }
  for (const Case& c : controls) {
    printEndToEndRow("A/A " + c.name, compareEndToEnd(c, rounds, programs, true));
  }
  for (Case c : selected({startUpCase()}, only)) {
    std::printf(
        "\n%s: whole runs (ms), the difference and CPU difference the medians of the rounds' own, "
        "noise the largest distance of a round's difference from its median\n",
        c.name.c_str());
    std::printf("%-40s %10s %9s %10s %6s %9s %7s %7s %7s\n", "", "cvcomp run", "hand loop",
                "difference", "noise", "CPU diff.", "ratio", "MiB run", "MiB hand");
    for (const StartUpRow& row : kStartUpRows) {
      c.firstRuns = row.firstRuns;
      printStartUpRow(row.name, compareEndToEnd(c, rounds, programs, row.againstItself));
    }
  }
}

void studio(int rounds, const std::string& program) {
  printHeader(
      "Studio: the face example played whole by `cvcomp studio` against `cvcomp run` (ms "
      "per frame, start to end)",
      rounds);
  std::printf("%-34s %6s %11s %10s %7s %7s\n", "case", "frames", "studio", "cvcomp run", "ratio",
              "noise");
  printRow("no client", compareStudio(rounds, program, false), "");
  printRow("one client: rectangles + picture", compareStudio(rounds, program, true), "");
}

// The one end-to-end case named by `only`, by hand, printing its frames and the ms it spent
// decoding them.
int handRun(const std::string& only, const std::filesystem::path& clips) {
  std::vector<Case> cases = endToEndCases(clips);
  cases.push_back(startUpCase());
  const auto named =
      std::find_if(cases.begin(), cases.end(), [&](const Case& c) { return c.name == only; });
  if (named == cases.end()) {
    std::cerr << "cvcomp_bench: hand-run needs --only with the whole name of an end-to-end case\n";
    return 2;
  }
  try {
    const HandRun run = runHandLoop(*named);
    std::printf("%zu %.3f\n", run.frames, run.decodingMs);
  } catch (const std::exception& error) {
    std::cerr << "cvcomp_bench: " << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"cvcomp_bench: compositions against hand-written OpenCV loops"};
  std::string mode = "all";
  int rounds = 7;
  int endToEndRounds = 11;
  std::string program = CVCOMP_PROGRAM;
  std::string only;
  std::string clips;
  app.add_option("mode", mode,
                 "in-memory, end-to-end, studio or all (hand-run: the end-to-end hand loop of the "
                 "--only case, as the end-to-end mode starts it)")
      ->check(CLI::IsMember({"in-memory", "end-to-end", "studio", "all", "hand-run"}));
  app.add_option("--rounds", rounds, "Rounds of each side in memory")->check(CLI::Range(1, 100));
  app.add_option("--end-to-end-rounds", endToEndRounds, "Whole runs of each side")
      ->check(CLI::Range(1, 100));
  app.add_option("--program", program, "The cvcomp program to time");
  app.add_option("--only", only, "Only the cases whose name holds this text");
  app.add_option("--clips", clips, "hand-run: the folder of the clips that end-to-end made");
  CLI11_PARSE(app, argc, argv);

  if (mode == "hand-run") return handRun(only, clips);
  std::printf(
      "ratio = hand loop ms / composition ms (throughput of the composition relative to "
      "the hand loop); noise = largest distance of a round's ratio from the median ratio\n");
  try {
    if (mode == "studio") {
      studio(endToEndRounds, program);
      return 0;
    }
    // End to end first: a started program's peak memory counts from this one's, which the
    // in-memory comparison makes large.
    if (mode != "in-memory") endToEnd(endToEndRounds, program, only);
    if (mode != "end-to-end") inMemory(rounds, only);
    if (mode == "all") studio(endToEndRounds, program);
  } catch (const std::exception& error) {
    std::cerr << "cvcomp_bench: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
