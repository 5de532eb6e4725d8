#include "Engine.hpp"

#include "CompositionFile.hpp"
#include "JsonOutput.hpp"
#include "QCObjectPorts.hpp"

namespace cvcomp {

// A stop is requested from signal handlers, where only lock-free atomics may be touched.
static_assert(std::atomic<bool>::is_always_lock_free);

const std::string& FrameResult::jsonLine() const {
  if (!jsonLine_) jsonLine_ = frameLine(frame, time, jsonOutputs_);
  return *jsonLine_;
}

Engine::Engine(std::unique_ptr<Composition> composition, const QCNodeManager& manager,
               std::string name, std::optional<std::filesystem::path> file)
    : composition_(std::move(composition)),
      manager_(manager),
      name_(std::move(name)),
      file_(std::move(file)) {
  collectOutputs();
}

std::unique_ptr<Engine> Engine::fromFile(const std::filesystem::path& file,
                                         const QCNodeManager& manager) {
  std::unique_ptr<Composition> composition = loadCompositionFile(file, manager);
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(file, error);
  return std::make_unique<Engine>(std::move(composition), manager, file.string(),
                                  error ? file : absolute);
}

Engine::~Engine() {
  composition_->stop(context_);
}

void Engine::setInput(const std::string& location) {
  if (sources_.empty()) throw CompositionError(name_ + ": the composition has no frame source");
  for (FrameProvider* source : sources_) source->setFrameLocation(location);
  opened_ = false;
}

std::optional<std::string> Engine::open() {
  for (FrameProvider* source : sources_) {
    if (!source->openFrames()) return source->framesFailure();
  }
  fps_ = sources_.empty() ? 30.0 : sources_.front()->framesPerSecond();
  opened_ = true;
  return std::nullopt;
}

FrameReport Engine::step() {
  applySubmitted();
  if (!opened_) {
    if (std::optional<std::string> failure = open()) {
      FrameReport report;
      report.failure = std::move(*failure);
      return report;
    }
  }
  return evaluate(std::nullopt, true);
}

FrameReport Engine::process(std::shared_ptr<QCImage> frame, std::optional<double> time) {
  applySubmitted();
  if (sources_.empty()) {
    throw CompositionError(name_ + ": the composition has no ImageSource to take the frame");
  }
  for (FrameProvider* source : sources_) source->supplyFrame(frame);
  return evaluate(time, false);
}

FrameReport Engine::evaluate(std::optional<double> time, bool fromInput) {
  FrameReport report;
  composition_->start(context_);
  report.frame = frame_;
  report.time = time.value_or(static_cast<double>(frame_) / fps_);
  composition_->renderFrame(context_, report.frame, report.time);
  if (fromInput) {
    for (const FrameProvider* source : sources_) {
      if (!source->framesFailure().empty()) {
        report.failure = source->framesFailure();
        return report;
      }
      report.ended = report.ended || source->framesEnded();
    }
  }
  if (report.ended) return report;
  ++frame_;

  std::vector<std::shared_ptr<Observer>> observers;
  {
    const std::lock_guard lock(observersMutex_);
    for (const auto& [id, observer] : observers_) observers.push_back(observer);
  }
  if (observers.empty()) return report;
  const FrameResult result(report.frame, report.time, *composition_, jsonOutputs_);
  for (const std::shared_ptr<Observer>& observer : observers) (*observer)(result);
  return report;
}

RunReport Engine::run(std::optional<std::uint64_t> frames) {
  RunReport run;
  while (!(frames && run.frames >= *frames)) {
    if (stopRequested()) {
      run.stopped = true;
      break;
    }
    const FrameReport report = step();
    if (!report.failure.empty()) {
      run.failure = report.failure;
      break;
    }
    if (report.ended) break;
    ++run.frames;
  }
  return run;
}

void Engine::apply(const std::vector<CompositionEdit>& edits) {
  applyEdits(*composition_, edits, manager_, name_, file_);
  collectOutputs();
  // A frame source added or changed opens before the next frame.
  opened_ =
      opened_ && std::none_of(edits.begin(), edits.end(), [](const CompositionEdit& edit) {
        return edit.kind == CompositionEdit::Kind::Add || edit.kind == CompositionEdit::Kind::Set;
      });
}

std::future<std::string> Engine::submit(std::vector<CompositionEdit> edits) {
  PendingEdits pending{std::move(edits), {}};
  std::future<std::string> done = pending.done.get_future();
  const std::lock_guard lock(pendingMutex_);
  pending_.push_back(std::move(pending));
  return done;
}

void Engine::applySubmitted() {
  std::vector<PendingEdits> batches;
  {
    const std::lock_guard lock(pendingMutex_);
    batches.swap(pending_);
  }
  for (PendingEdits& batch : batches) {
    try {
      apply(batch.edits);
      batch.done.set_value({});
    } catch (const CompositionError& error) {
      batch.done.set_value(error.what());
    }
  }
}

void Engine::collectOutputs() {
  jsonOutputs_.clear();
  for (const QCPort* port : composition_->published()) {
    if (writesAsJson(port->kind())) jsonOutputs_.emplace_back(composition_->pathOf(*port), port);
  }
  sources_.clear();
  for (const Composition::Patch& entry : composition_->patches()) {
    if (FrameProvider* source = entry.instance->frameProvider()) sources_.push_back(source);
  }
}

int Engine::addObserver(Observer observer) {
  const std::lock_guard lock(observersMutex_);
  observers_.emplace_back(nextObserver_, std::make_shared<Observer>(std::move(observer)));
  return nextObserver_++;
}

void Engine::removeObserver(int id) {
  const std::lock_guard lock(observersMutex_);
  std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

}  // namespace cvcomp
