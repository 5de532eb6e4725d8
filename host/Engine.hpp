#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "Composition.hpp"
#include "CompositionEdit.hpp"
#include "QCImage.hpp"
#include "QCImageManager.hpp"

namespace cvcomp {

// What became of one step.
struct FrameReport {
  std::uint64_t frame = 0;  // the frame's number, from 0
  double time = 0.0;        // its time in seconds, by the frame rate of the input
  bool ended = false;       // the input had no more frames: the frame was not produced
  std::string failure;      // why the input failed, naming it: the frame was not produced
  bool produced() const { return !ended && failure.empty(); }
};

// What a run came to.
struct RunReport {
  std::uint64_t frames = 0;  // frames produced
  bool stopped = false;      // ended by a stop request
  std::string failure;       // the input's failure, when that ended it
};

// A produced frame, as observers see it. Every patch's part in the frame is in
// composition.patches() (executed or skipped as unchanged, milliseconds, failure).
class FrameResult {
 public:
  FrameResult(std::uint64_t number, double seconds, const Composition& evaluated,
              const std::vector<std::pair<std::string, const QCPort*>>& jsonOutputs)
      : frame(number), time(seconds), composition(evaluated), jsonOutputs_(jsonOutputs) {}

  const std::uint64_t frame;
  const double time;
  const Composition& composition;

  // The published values as one JSON line without its newline, {"frame":N,"time":T,...}; made
  // on first use, once however many observers ask.
  const std::string& jsonLine() const;

 private:
  const std::vector<std::pair<std::string, const QCPort*>>& jsonOutputs_;
  mutable std::optional<std::string> jsonLine_;
};

// A batch of edits as the engine applied it: the composition's revision it made, and the
// inverse batch, which brings the composition back to the revision before.
struct AppliedBatch {
  std::uint64_t revision = 0;
  std::vector<CompositionEdit> edits;
  std::vector<CompositionEdit> inverse;
};

// Runs a composition frame by frame: owns it, its context and the frame clock, opens its frame
// sources, applies edits between frames and tells observers about every produced frame and every
// applied batch of edits.
//
// One thread steps the engine; any thread may request a stop or hand it work (post, call), which
// it runs between two frames.
class Engine {
 public:
  using Observer = std::function<void(const FrameResult&)>;
  using EditObserver = std::function<void(const AppliedBatch&)>;
  using Work = std::function<void(Engine&)>;
  // How many applied batches the engine keeps to be read back.
  static constexpr std::size_t kKeptBatches = 1000;

  // `name` names the composition in messages (the file as given); `file` is where relative paths
  // resolve and what new patches take as their composition file.
  Engine(std::unique_ptr<Composition> composition, const QCNodeManager& manager, std::string name,
         std::optional<std::filesystem::path> file);
  // Loads a composition file; throws CompositionError as checking it would report.
  static std::unique_ptr<Engine> fromFile(const std::filesystem::path& file,
                                          const QCNodeManager& manager);
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  // Stops the composition, disabling its patches.
  ~Engine();

  // Takes frames from `location` in every frame source of the composition (a file, a folder,
  // camera:N, pattern:WxH). Throws CompositionError when the composition has none.
  void setInput(const std::string& location);
  // Opens the frame sources; the failure, naming the file, or nothing. Stepping opens them too.
  std::optional<std::string> open();
  // The frame rate of the first frame source, 30 without one.
  double framesPerSecond() const { return fps_; }
  bool hasFrameSource() const { return !sources_.empty(); }
  // Of the first frame source, once open: how many frames it holds when known, and how they come.
  std::optional<std::uint64_t> framesLength() const;
  FramePace framesPace() const;

  // Runs the work handed over so far, then evaluates one frame, once every frame source has one:
  // at the end of the input or on its failure nothing is evaluated.
  FrameReport step();
  // Runs the work handed over so far, then evaluates one frame made of `frame` (a picture held
  // in memory, e.g. one a caller decoded), given to every frame source of the composition instead
  // of one read from its input. The frame's time is `time`, or its number by the frame rate.
  // Throws CompositionError when the composition has no frame source.
  FrameReport process(std::shared_ptr<QCImage> frame, std::optional<double> time = std::nullopt);
  // Evaluates the last frame produced once more, with the same number, time and input pictures
  // (after edits, say), as a step would: the frame sources give the pictures they gave last.
  // Patches that keep state see the frame a second time. Only once a frame was produced.
  FrameReport evaluateAgain();
  // Starts the composition afresh (as restart() does) at frame `frame` of its input, the next
  // frame a step produces: the same picture, number and time as that frame of a run from the
  // start. The failure, naming the input, or nothing.
  std::optional<std::string> seek(std::uint64_t frame);
  // Steps until the input ends or fails, `frames` frames were produced, or a stop is requested.
  RunReport run(std::optional<std::uint64_t> frames = std::nullopt);
  // Callable from any thread and from a signal handler: the run ends before its next frame.
  void requestStop() noexcept { stopRequested_.store(true); }
  bool stopRequested() const noexcept { return stopRequested_.load(); }

  // Applies edits now, all or none, to the composition in place; throws CompositionError as
  // applyEdits does. On success the revision goes up by one and the edit observers are told.
  // Only on the thread that steps, or while nothing steps.
  const AppliedBatch& apply(const std::vector<CompositionEdit>& edits);
  // The composition's revision: 0 as it was given, one more for every applied batch.
  std::uint64_t revision() const { return revision_; }
  // The batch that made `revision`, while it is one of the last kKeptBatches; else nullptr.
  const AppliedBatch* appliedBatch(std::uint64_t revision) const;

  // Replaces the composition whole, from its first frame, with its input to open; `file` is where
  // its relative paths resolve. The revision goes up by one, and no batch leads back.
  void replace(std::unique_ptr<Composition> composition, std::optional<std::filesystem::path> file);
  // Starts the composition afresh from its first frame, made again from its own document, at the
  // same revision.
  void restart();
  // Frames produced since the composition was given: the ports hold the last one when not 0.
  std::uint64_t framesProduced() const { return frame_; }

  // From any thread: `work` runs on the engine's thread before its next frame (or in
  // runPosted()), in the order handed over.
  void post(Work work);
  // The same, with the work's result or exception in the future.
  template <class Task>
  auto call(Task task) -> std::future<std::invoke_result_t<Task&, Engine&>> {
    using Result = std::invoke_result_t<Task&, Engine&>;
    auto packaged = std::make_shared<std::packaged_task<Result(Engine&)>>(std::move(task));
    std::future<Result> done = packaged->get_future();
    post([packaged](Engine& engine) { (*packaged)(engine); });
    return done;
  }
  // On the engine's thread: runs the work handed over so far.
  void runPosted();
  // On the engine's thread, while it has no frame to make: waits until work is handed over, or
  // at most until `until`.
  void waitForWork(std::optional<std::chrono::steady_clock::time_point> until = std::nullopt);

  int addObserver(Observer observer);
  void removeObserver(int id);
  int addEditObserver(EditObserver observer);
  void removeEditObserver(int id);

  Composition& composition() { return *composition_; }
  QCContext& context() { return context_; }
  const std::string& name() const { return name_; }

 private:
  // Evaluates the frame the sources give and tells the observers.
  FrameReport evaluate(std::optional<double> time);
  // Finds the published values and the frame sources again after the composition changed.
  void collectOutputs();

  std::unique_ptr<Composition> composition_;
  const QCNodeManager& manager_;
  std::string name_;
  std::optional<std::filesystem::path> file_;
  QCContext context_;
  double fps_ = 30.0;
  bool opened_ = false;
  std::uint64_t frame_ = 0;
  double lastTime_ = 0.0;  // the time of the last frame produced
  std::vector<std::pair<std::string, const QCPort*>> jsonOutputs_;
  std::vector<FrameProvider*> sources_;
  std::atomic<bool> stopRequested_ = false;

  std::uint64_t revision_ = 0;
  std::deque<AppliedBatch> applied_;

  std::mutex workMutex_;
  std::condition_variable workPosted_;
  std::vector<Work> work_;

  std::mutex observersMutex_;
  std::vector<std::pair<int, std::shared_ptr<Observer>>> observers_;
  std::vector<std::pair<int, std::shared_ptr<EditObserver>>> editObservers_;
  int nextObserver_ = 0;
};

}  // namespace cvcomp
