#include <unistd.h>

#include <chrono>
#include <iostream>
#include <memory>

#include "Commands.hpp"
#include "LogPrinter.hpp"
#include "PerInput.hpp"
#include "RunChecks.hpp"
#include "StopSignals.hpp"
#include "host/CompositionFile.hpp"
#include "host/Engine.hpp"
#include "host/QCValuePorts.hpp"
#include "host/TextValues.hpp"
#include "host/output/RunOutputs.hpp"
#include "host/patches/FramePictures.hpp"

namespace cvcomp {

namespace {

// Frames and frames per second on a terminal, refreshed twice a second.
class Progress {
 public:
  explicit Progress(bool shown) : shown_(shown) {}
  void frameDone(std::uint64_t frames) {
    if (!shown_) return;
    const auto now = Clock::now();
    if (now - lastShown_ < std::chrono::milliseconds(500)) return;
    lastShown_ = now;
    std::cerr << "\rcvcomp: " << frames << " frames, " << static_cast<int>(rate(frames))
              << " fps   " << std::flush;
  }
  void finish(std::uint64_t frames) {
    if (shown_) std::cerr << "\rcvcomp: " << frames << " frames, " << rate(frames) << " fps\n";
  }

 private:
  using Clock = std::chrono::steady_clock;
  double rate(std::uint64_t frames) const {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    return seconds > 0.0 ? static_cast<double>(frames) / seconds : 0.0;
  }
  bool shown_;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastShown_ = start_;
};

// Applies --input and --set; returns an error message, empty when all went well.
std::string configure(Engine& engine, const RunOptions& options) {
  try {
    if (options.input) engine.setInput(*options.input);
  } catch (const CompositionError&) {
    return "--input: the composition has no ImageSource";
  }
  try {
    for (const std::string& setting : options.settings) {
      const std::optional<PortSetting> parsed = portSetting(setting);
      if (!parsed) return "--set " + setting + ": expected ID.PORT=VALUE";
      setInputFromText(engine.composition(), parsed->path, parsed->value);
      const QCPort& port = engine.composition().port(parsed->path);
      if (port.kind() == PortKind::String &&
          static_cast<const QCStringPort&>(port).stringValue().find('\0') != std::string::npos) {
        return "--set " + setting + ": the text holds a NUL character";
      }
    }
  } catch (const CompositionError& error) {
    return error.what();
  }
  return {};
}

}  // namespace

int runCommand(RunOptions options, const QCNodeManager& manager) {
  // Before any thread exists, so that every thread leaves the stop signals to the watcher.
  StopSignals signals;
  if (const std::optional<RunRefusal> refusal = resolvePerInput(options)) {
    return fail(refusal->status, refusal->message);
  }
  std::unique_ptr<Engine> engine;
  try {
    engine = Engine::fromFile(options.composition, manager);
  } catch (const CompositionError& error) {
    return fail(kExitUsageError, error.what());
  }
  if (const std::string problem = configure(*engine, options); !problem.empty()) {
    return fail(kExitUsageError, problem);
  }
  const QCPort* published = publishedPicture(engine->composition());
  const std::optional<std::string> picture =
      published ? std::optional(engine->composition().pathOf(*published)) : std::nullopt;
  if (options.video && !picture) {
    return fail(kExitUsageError, "--video: the composition publishes no image output");
  }
  if (options.video) {
    if (const auto problem = videoNameProblem(*options.video)) {
      return fail(kExitUsageError, *options.video + ": " + *problem);
    }
  }
  if (const auto clash =
          outputClash(options, inputFilesOf(engine->composition(), options.composition))) {
    return fail(kExitUsageError, *clash);
  }
  // Watched from here on, so that a signal is honoured while the input opens as well.
  RunOutputs outputs;
  signals.watch([&] { engine->requestStop(); }, [&] { outputs.close(); },
                std::chrono::milliseconds(1500));
  if (const std::optional<std::string> failure = engine->open()) {
    return fail(kExitInputError, *failure);
  }
  if (const auto failure =
          outputs.open(options.json, options.video, engine->framesPerSecond(), picture)) {
    return fail(kExitInputError, *failure);
  }
  std::optional<std::string> writeFailure;
  engine->addObserver([&](const FrameResult& frame) {
    if (writeFailure) return;
    writeFailure = outputs.write(frame);
    if (writeFailure) engine->requestStop();
  });
  Progress progress(!options.quiet && isatty(STDERR_FILENO));
  engine->addObserver([&](const FrameResult& frame) { progress.frameDone(frame.frame + 1); });

  const RunReport run = engine->run(options.frames);
  progress.finish(run.frames);
  const std::optional<std::string> closeFailure = outputs.close();
  if (!run.failure.empty()) return fail(kExitInputError, run.failure);
  if (writeFailure) return fail(kExitInputError, *writeFailure);
  if (closeFailure) return fail(kExitInputError, *closeFailure);
  return signals.received() != 0 ? 128 + signals.received() : kExitOk;
}

int checkCommand(const std::string& file, const QCNodeManager& manager) {
  try {
    const auto composition = loadCompositionFile(file, manager);
    std::cout << file << ": " << composition->patches().size() << " patches, "
              << composition->connections().size() << " connections, "
              << composition->published().size() << " published outputs\n";
    return kExitOk;
  } catch (const CompositionError& error) {
    return fail(kExitUsageError, error.what());
  }
}

}  // namespace cvcomp
