// Stopping a run with a signal while a patch is busy: the run ends within 2 seconds, and every
// frame completed before is in the JSON lines and in a video that plays.

#include <signal.h>

#include <chrono>
#include <thread>

#include "TestSupport.hpp"

namespace cvcomp {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kBusyComposition = R"({
  "patches": {
    "src": {"class": "ImageSource", "inputs": {"inputPath": "pattern:64x48"}},
    "busy": {"class": "Busy", "inputs": {"inputBusyFrom": 5, "inputSeconds": 600}}
  },
  "publish": ["busy.outputFrame", "src.outputImage"]
})";

struct StopCase {
  std::string name;
  std::vector<int> signals;
  int status;
  friend void PrintTo(const StopCase& stop, std::ostream* out) { *out << stop.name; }
};

class Stop : public testing::TestWithParam<StopCase> {};

TEST_P(Stop, EndsWithinTwoSecondsKeepingEveryCompletedFrame) {
  const test::TempFolder folder;
  const auto composition = folder.write("busy.json", kBusyComposition);
  const auto json = folder / "frames.jsonl", video = folder / "frames.avi";
  // The busy patch comes from a plug-in module of its own.
  test::BackgroundProgram run({"env", std::string("CVCOMP_PLUGIN=") + CVCOMP_BUSY_PLUGIN,
                               CVCOMP_PROGRAM, "run", composition.string(), "-q", "--json",
                               json.string(), "--video", video.string()});
  // Frames 0 to 4 complete; frame 5 keeps the busy patch busy for ten minutes.
  for (int wait = 0; wait < 1000 && test::lineCount(test::contents(json)) < 5; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(test::lineCount(test::contents(json)), 5u);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  const Clock::time_point signalled = Clock::now();
  for (const int number : GetParam().signals) run.signal(number);
  // Two seconds are promised; the margin is for a loaded machine.
  const std::optional<int> status = run.wait(std::chrono::seconds(4));
  ASSERT_TRUE(status) << "still running";
  EXPECT_LT(Clock::now() - signalled, std::chrono::milliseconds(2500));
  EXPECT_EQ(*status, GetParam().status);

  const auto lines = test::jsonLines(test::contents(json));
  ASSERT_EQ(lines.size(), 5u);
  for (std::size_t frame = 0; frame < lines.size(); ++frame) {
    EXPECT_EQ(lines[frame]["busy.outputFrame"], static_cast<double>(frame));
  }
  // A second signal leaves the video as it is.
  EXPECT_TRUE(GetParam().signals.size() > 1 || test::playedFrames(video) == 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, Stop,
    testing::Values(StopCase{"Interrupt", {SIGINT}, 130}, StopCase{"Terminate", {SIGTERM}, 143},
                    StopCase{"Hangup", {SIGHUP}, 129}, StopCase{"Twice", {SIGINT, SIGINT}, 130}),
    [](const testing::TestParamInfo<StopCase>& stop) { return stop.param.name; });

}  // namespace
}  // namespace cvcomp
