#include "StudioSession.hpp"

#include <nlohmann/json.hpp>

#include "host/patches/FrameReader.hpp"

namespace cvcomp {

nlohmann::json transportJson(const TransportState& state) {
  nlohmann::json json{
      {"playing", state.playing}, {"frame", nullptr}, {"ended", state.ended}, {"failure", nullptr}};
  if (state.frame) json["frame"] = *state.frame;
  if (!state.failure.empty()) json["failure"] = state.failure;
  return json;
}

StudioSession::StudioSession(std::unique_ptr<Engine> engine, Observer observer)
    : engine_(std::move(engine)), observer_(std::move(observer)) {
  engine_->addObserver([this](const FrameResult& frame) { observer_.frame(frame, *engine_); });
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
    if (playing) {
      produce();
    } else {
      engine_->waitForWork();
    }
  }
}

void StudioSession::produce() {
  bool restart = false;
  {
    const std::lock_guard lock(mutex_);
    restart = state_.ended || !state_.failure.empty();
  }
  // After the end of the input, the composition starts afresh from its first frame.
  if (restart) engine_->restart();
  const FrameReport report = engine_->step();
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
  if (!playing) settle();
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
  engine_->post([](Engine&) {});
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
  {
    const std::lock_guard lock(mutex_);
    if (state_.playing) return;
  }
  engine_->post([this](Engine&) { settle(); });
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
    const std::lock_guard lock(mutex_);
    state_.frame.reset();
    state_.ended = false;
    state_.failure.clear();
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
    const std::lock_guard lock(mutex_);
    state_.ended = false;
    state_.failure.clear();
    return std::nullopt;
  });
}

}  // namespace cvcomp
