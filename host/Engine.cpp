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
  runPosted();
  FrameReport report;
  report.frame = frame_;
  if (!opened_) {
    if (std::optional<std::string> failure = open()) {
      report.failure = std::move(*failure);
      return report;
    }
  }
  for (FrameProvider* source : sources_) {
    if (source->prepareFrame()) continue;
    report.failure = source->framesFailure();
    report.ended = report.failure.empty();
    return report;
  }
  return evaluate(std::nullopt);
}

std::optional<std::uint64_t> Engine::framesLength() const {
  return sources_.empty() ? std::nullopt : sources_.front()->framesLength();
}

FramePace Engine::framesPace() const {
  return sources_.empty() ? FramePace::OwnRate : sources_.front()->framesPace();
}

FrameReport Engine::evaluateAgain() {
  runPosted();
  for (FrameProvider* source : sources_) source->repeatFrame();
  --frame_;
  return evaluate(lastTime_);
}

std::optional<std::string> Engine::seek(std::uint64_t frame) {
  restart();
  if (std::optional<std::string> failure = open()) return failure;
  for (FrameProvider* source : sources_) {
    if (!source->seekFrames(frame)) return source->framesFailure();
  }
  frame_ = frame;
  return std::nullopt;
}

FrameReport Engine::process(std::shared_ptr<QCImage> frame, std::optional<double> time) {
  runPosted();
  if (sources_.empty()) {
    throw CompositionError(name_ + ": the composition has no ImageSource to take the frame");
  }
  for (FrameProvider* source : sources_) source->supplyFrame(frame);
  return evaluate(time);
}

FrameReport Engine::evaluate(std::optional<double> time) {
  FrameReport report;
  composition_->start(context_);
  report.frame = frame_;
  report.time = time.value_or(static_cast<double>(frame_) / fps_);
  composition_->renderFrame(context_, report.frame, report.time);
  ++frame_;
  lastTime_ = report.time;

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

const AppliedBatch& Engine::apply(const std::vector<CompositionEdit>& edits) {
  std::vector<CompositionEdit> inverse = applyEdits(*composition_, edits, name_, file_);
  using Kind = CompositionEdit::Kind;
  bool structural = false;
  for (const CompositionEdit& edit : edits) {
    structural = structural || edit.kind == Kind::Add || edit.kind == Kind::Remove ||
                 edit.kind == Kind::Publish || edit.kind == Kind::Unpublish;
    // A frame source added or given a value opens before the next frame.
    if (edit.kind == Kind::Add || edit.kind == Kind::Set) {
      QCPatch* patch = composition_->patch(edit.target.substr(0, edit.target.find('.')));
      if (patch && patch->frameProvider()) opened_ = false;
    }
  }
  if (structural) collectOutputs();
  applied_.push_back({++revision_, edits, std::move(inverse)});
  if (applied_.size() > kKeptBatches) applied_.pop_front();
  std::vector<std::shared_ptr<EditObserver>> observers;
  {
    const std::lock_guard lock(observersMutex_);
    for (const auto& [id, observer] : editObservers_) observers.push_back(observer);
  }
  for (const std::shared_ptr<EditObserver>& observer : observers) (*observer)(applied_.back());
  return applied_.back();
}

const AppliedBatch* Engine::appliedBatch(std::uint64_t revision) const {
  if (applied_.empty() || revision < applied_.front().revision || revision > revision_) {
    return nullptr;
  }
  return &applied_[revision - applied_.front().revision];
}

void Engine::replace(std::unique_ptr<Composition> composition,
                     std::optional<std::filesystem::path> file) {
  composition_->stop(context_);
  composition_ = std::move(composition);
  file_ = std::move(file);
  ++revision_;
  applied_.clear();
  frame_ = 0;
  opened_ = false;
  collectOutputs();
}

void Engine::restart() {
  std::unique_ptr<Composition> again =
      loadCompositionText(compositionDocument(*composition_), name_, file_, manager_);
  composition_->stop(context_);
  composition_ = std::move(again);
  frame_ = 0;
  opened_ = false;
  collectOutputs();
}

void Engine::post(Work work) {
  {
    const std::lock_guard lock(workMutex_);
    work_.push_back(std::move(work));
  }
  workPosted_.notify_all();
}

void Engine::runPosted() {
  std::vector<Work> work;
  {
    const std::lock_guard lock(workMutex_);
    work.swap(work_);
  }
  for (Work& item : work) item(*this);
}

void Engine::waitForWork(std::optional<std::chrono::steady_clock::time_point> until) {
  std::unique_lock lock(workMutex_);
  const auto posted = [this] { return !work_.empty(); };
  if (until) {
    workPosted_.wait_until(lock, *until, posted);
  } else {
    workPosted_.wait(lock, posted);
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

int Engine::addEditObserver(EditObserver observer) {
  const std::lock_guard lock(observersMutex_);
  editObservers_.emplace_back(nextObserver_, std::make_shared<EditObserver>(std::move(observer)));
  return nextObserver_++;
}

void Engine::removeEditObserver(int id) {
  const std::lock_guard lock(observersMutex_);
  std::erase_if(editObservers_, [id](const auto& entry) { return entry.first == id; });
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
