#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
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

// Runs a composition frame by frame: owns it, its context and the frame clock, opens its frame
// sources, applies edits between frames and tells observers about every produced frame.
//
// One thread steps the engine; any thread may request a stop or submit edits.
class Engine {
 public:
  using Observer = std::function<void(const FrameResult&)>;

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

  // Applies the edits submitted so far, then evaluates one frame.
  FrameReport step();
  // Applies the edits submitted so far, then evaluates one frame made of `frame` (a picture held
  // in memory, e.g. one a caller decoded), given to every frame source of the composition instead
  // of one read from its input. The frame's time is `time`, or its number by the frame rate.
  // Throws CompositionError when the composition has no frame source.
  FrameReport process(std::shared_ptr<QCImage> frame, std::optional<double> time = std::nullopt);
  // Steps until the input ends or fails, `frames` frames were produced, or a stop is requested.
  RunReport run(std::optional<std::uint64_t> frames = std::nullopt);
  // Callable from any thread and from a signal handler: the run ends before its next frame.
  void requestStop() noexcept { stopRequested_.store(true); }
  bool stopRequested() const noexcept { return stopRequested_.load(); }

  // Applies edits now, all or none; throws CompositionError as applyEdits does. Only on the
  // thread that steps, or while nothing steps.
  void apply(const std::vector<CompositionEdit>& edits);
  // From any thread: the edits are applied before the next frame, in the order submitted. The
  // future gives the refusal, or an empty text once they are applied.
  std::future<std::string> submit(std::vector<CompositionEdit> edits);

  int addObserver(Observer observer);
  void removeObserver(int id);

  Composition& composition() { return *composition_; }
  QCContext& context() { return context_; }
  const std::string& name() const { return name_; }

 private:
  struct PendingEdits {
    std::vector<CompositionEdit> edits;
    std::promise<std::string> done;
  };

  void applySubmitted();
  // Evaluates the frame the sources give and tells the observers. A frame read from the input
  // (not one handed over) is not produced when the input ended or failed.
  FrameReport evaluate(std::optional<double> time, bool fromInput);
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
  std::vector<std::pair<std::string, const QCPort*>> jsonOutputs_;
  std::vector<FrameProvider*> sources_;
  std::atomic<bool> stopRequested_ = false;

  std::mutex pendingMutex_;
  std::vector<PendingEdits> pending_;

  std::mutex observersMutex_;
  std::vector<std::pair<int, std::shared_ptr<Observer>>> observers_;
  int nextObserver_ = 0;
};

}  // namespace cvcomp
