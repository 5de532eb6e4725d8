#include "StudioSession.hpp"

#include <nlohmann/json.hpp>

#include "host/patches/FrameReader.hpp"

namespace cvcomp {

nlohmann::json transportJson(const TransportState& state) {
  nlohmann::json json{{"playing", state.playing},
                      {"frame", nullptr},
                      {"ended", state.ended},
                      {"failure", nullptr},
                      {"speed", state.maxSpeed ? "max" : "native"},
                      {"loop", state.loop},
                      {"length", nullptr},
                      {"rate", nullptr},
                      {"pictureRate", state.pictureRate}};
  if (state.frame) json["frame"] = *state.frame;
  if (!state.failure.empty()) json["failure"] = state.failure;
  if (state.length) json["length"] = *state.length;
  if (state.rate) json["rate"] = *state.rate;
  return json;
}

StudioSession::StudioSession(std::unique_ptr<Engine> engine, Observer observer)
    : engine_(std::move(engine)), observer_(std::move(observer)) {
  engine_->addObserver([this](const FrameResult& frame) { observer_.frame(frame, *engine_); });
  // Edits are applied on the engine's thread.
  engine_->addEditObserver([this](const AppliedBatch&) { changed_ = true; });
  thread_ = std::thread([this] { loop(); });
}

StudioSession::~StudioSession() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  engine_->post([](Engine&) {});
  thread_.join();
}

void StudioSession::loop() {
  while (true) {
    engine_->runPosted();
    bool playing = false;
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return;
      playing = state_.playing;
    }
    turn(playing);
  }
}

void StudioSession::turn(bool playing) {
  if (!playing || !engine_->hasFrameSource()) {
    // No clock runs: a change shows as the frame evaluated once more, or as the first frame of a
    // composition without a frame source.
    if (!changed_) {
      engine_->waitForWork();
    } else if (engine_->framesProduced() > 0) {
      evaluateAgain();
    } else if (playing) {
      produce();
      settle();
    } else {
      changed_ = false;
    }
    return;
  }
  const std::optional<Clock::duration> period = framePeriod();
  if (!period) {
    produce();
    return;
  }
  if (Clock::now() < due_) {
    engine_->waitForWork(due_);
    return;
  }
  // A frame that took longer than its period leaves the next due at once, not a backlog.
  const Clock::time_point next = due_ + *period;
  produce();
  due_ = std::max(next, Clock::now());
}

std::optional<std::chrono::steady_clock::duration> StudioSession::framePeriod() const {
  const std::lock_guard lock(mutex_);
  if (state_.maxSpeed || !state_.rate) return std::nullopt;
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / *state_.rate));
}

void StudioSession::readInput() {
  const std::optional<std::uint64_t> length = engine_->framesLength();
  const FramePace pace = engine_->framesPace();
  const double fps = engine_->framesPerSecond();
  const bool source = engine_->hasFrameSource();
  const std::lock_guard lock(mutex_);
  state_.length = length;
  state_.rate.reset();
  if (source && pace == FramePace::OwnRate) state_.rate = fps;
  if (source && pace == FramePace::Pictures) state_.rate = state_.pictureRate;
}

void StudioSession::produce() {
  bool restart = false;
  bool loop = false;
  {
    const std::lock_guard lock(mutex_);
    restart = state_.ended || !state_.failure.empty();
    loop = state_.loop;
  }
  // After the end of the input, the composition starts afresh from its first frame.
  if (restart) engine_->restart();
  const std::optional<std::uint64_t> length = engine_->framesLength();
  FrameReport report = engine_->step();
  // A loop starts afresh too, and goes on at once; an input of one frame has nothing to play.
  if (report.ended && loop && length.value_or(0) > 1) {
    engine_->restart();
    report = engine_->step();
  }
  changed_ = false;
  settled_ = false;
  bool playing = false;
  {
    const std::lock_guard lock(mutex_);
    state_.ended = report.ended;
    state_.failure = report.failure;
    if (report.produced()) {
      state_.frame = report.frame;
    } else {
      state_.playing = false;
      if (restart) state_.frame.reset();
    }
    playing = state_.playing;
  }
  readInput();
  if (!playing) settle();
}

void StudioSession::evaluateAgain() {
  changed_ = false;
  engine_->evaluateAgain();
  settle();
}

// Watchers that take frames at a lower rate than the engine makes them may have skipped the
// last one: they are offered it now, so a stopped view always shows where the engine stands. The
// end or failure of the input is known before an evaluation, so the ports hold the last frame
// produced, if any.
void StudioSession::settle() {
  TransportState state;
  {
    const std::lock_guard lock(mutex_);
    state = state_;
  }
  settled_ = true;
  observer_.settled(engine_->framesProduced() > 0 ? engine_.get() : nullptr, state);
}

void StudioSession::play() {
  {
    const std::lock_guard lock(mutex_);
    state_.playing = true;
  }
  engine_->post([this](Engine&) {
    due_ = Clock::now();
    changed_ = true;
  });
}

void StudioSession::stopPlaying() {
  const std::lock_guard lock(mutex_);
  state_.playing = false;
}

// Both return once the frame in progress has ended.
void StudioSession::pause() {
  stopPlaying();
  // The frame in progress, if any, has told it already.
  call([this](Engine&) {
    if (!settled_) settle();
  });
}

void StudioSession::step() {
  stopPlaying();
  call([this](Engine&) { produce(); });
}

void StudioSession::settleAgainIfStopped() {
  // Without a frame source, playing makes no more frames either.
  engine_->post([this](Engine& engine) {
    if (!state().playing || !engine.hasFrameSource()) settle();
  });
}

std::optional<std::string> StudioSession::seek(std::uint64_t frame) {
  return call([&](Engine& engine) -> std::optional<std::string> {
    if (!engine.hasFrameSource()) return engine.name() + ": the composition has no frame source";
    if (std::optional<std::string> failure = engine.open()) return failure;
    const std::optional<std::uint64_t> length = engine.framesLength();
    if (!length) return "the transport: the input's length is not known, so it cannot seek";
    if (frame >= *length) {
      return "the transport: no frame " + std::to_string(frame) + " (the input has " +
             std::to_string(*length) + ")";
    }
    std::optional<std::string> failure = engine.seek(frame);
    FrameReport report;
    if (!failure) {
      report = engine.step();
      if (!report.failure.empty()) failure = report.failure;
      if (report.ended) failure = "the transport: no frame " + std::to_string(frame);
    }
    {
      const std::lock_guard lock(mutex_);
      state_.ended = report.ended;
      state_.failure = failure.value_or("");
      state_.frame.reset();
      if (!failure) state_.frame = report.frame;
    }
    changed_ = false;
    readInput();
    due_ = Clock::now() + framePeriod().value_or(Clock::duration::zero());
    settle();
    return failure;
  });
}

void StudioSession::setMaxSpeed(bool max) {
  call([&](Engine&) {
    {
      const std::lock_guard lock(mutex_);
      state_.maxSpeed = max;
    }
    due_ = Clock::now();
  });
}

void StudioSession::setLoop(bool loop) {
  const std::lock_guard lock(mutex_);
  state_.loop = loop;
}

void StudioSession::setPictureRate(double rate) {
  call([&](Engine&) {
    {
      const std::lock_guard lock(mutex_);
      state_.pictureRate = rate;
    }
    readInput();
    due_ = Clock::now();
  });
}

void StudioSession::feed(std::shared_ptr<QCImage> frame, std::optional<double> time) {
  stopPlaying();
  const FrameReport report = engine_->process(std::move(frame), time);
  settled_ = false;
  const std::lock_guard lock(mutex_);
  state_.frame = report.frame;
}

TransportState StudioSession::state() const {
  const std::lock_guard lock(mutex_);
  return state_;
}

void StudioSession::replace(std::unique_ptr<Composition> composition,
                            const std::optional<std::filesystem::path>& file) {
  call([&](Engine& engine) {
    engine.replace(std::move(composition), file);
    {
      const std::lock_guard lock(mutex_);
      state_.frame.reset();
      state_.ended = false;
      state_.failure.clear();
    }
    // Opened now for its length; a failure shows at the first frame.
    engine.open();
    readInput();
    changed_ = true;
  });
}

std::optional<std::string> StudioSession::switchInput(const std::string& location) {
  return call([&](Engine& engine) -> std::optional<std::string> {
    const auto& patches = engine.composition().patches();
    if (std::none_of(patches.begin(), patches.end(), [](const Composition::Patch& entry) {
          return entry.instance->frameProvider() != nullptr;
        })) {
      return engine.name() + ": the composition has no frame source";
    }
    std::error_code noFolder;
    // The new input's first frame is read before the old input is let go: a source that opens
    // but cannot give a frame (a picture over the size limit, a folder of unreadable pictures)
    // is refused while the old one keeps running.
    try {
      cv::Mat first;
      openFrameSource(location, std::filesystem::current_path(noFolder))->read(first);
      if (first.empty()) return location + ": no frames";
    } catch (const FrameSourceError& error) {
      return error.what();
    }
    engine.setInput(location);
    {
      const std::lock_guard lock(mutex_);
      state_.ended = false;
      state_.failure.clear();
    }
    engine.open();
    readInput();
    due_ = Clock::now();
    return std::nullopt;
  });
}

}  // namespace cvcomp
