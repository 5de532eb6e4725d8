#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json_fwd.hpp>

#include "host/Engine.hpp"

namespace cvcomp {

// Where the transport stands.
struct TransportState {
  bool playing = false;
  std::optional<std::uint64_t> frame;   // the last frame produced, none before the first
  bool ended = false;                   // the input had no more frames
  std::string failure;                  // why the input failed, naming it
  bool maxSpeed = false;                // frames as fast as they come, not at the input's rate
  bool loop = true;                     // the input's end starts it again from its first frame
  std::optional<std::uint64_t> length;  // the input's frames, when known
  std::optional<double> rate;           // the frames a second playing keeps to, if any
  double pictureRate = 25.0;            // the rate of inputs of pictures (a folder)
};

// {"playing":..,"frame":N|null,"ended":..,"failure":".."|null,"speed":"native"|"max",
// "loop":..,"length":N|null,"rate":R|null,"pictureRate":R}
nlohmann::json transportJson(const TransportState& state);

// Runs an engine on a thread of its own, frame after frame while playing: at the input's own rate
// (a folder of pictures at the picture rate), or as fast as the frames come (at maximum speed, or
// from a camera). A composition slower than the rate runs late, never catching up in a burst.
// Without a frame source there is no clock: playing evaluates one frame after each change. While
// paused, a change evaluates the frame shown once more. Every other access to the composition
// happens on the engine's thread too, between two frames, as work handed to the engine (call()):
// requests from any thread never race the frame in progress, and run at once while the engine
// waits for a frame's time.
class StudioSession {
 public:
  // Called on the engine's thread: `frame` for every produced frame, of this engine and of every
  // one that replaces it; `settled` when the frames stop (pause, step, the input's end), with
  // where the transport then stands and the engine when its ports still hold the last frame
  // produced (null when they don't).
  struct Observer {
    std::function<void(const FrameResult&, Engine&)> frame;
    std::function<void(Engine*, const TransportState&)> settled;
  };

  StudioSession(std::unique_ptr<Engine> engine, Observer observer);
  StudioSession(const StudioSession&) = delete;
  StudioSession& operator=(const StudioSession&) = delete;
  // Ends the frame in progress and the thread.
  ~StudioSession();

  // Runs `work` on the engine's thread between two frames and gives its result or exception.
  template <class Work>
  auto call(Work work) -> decltype(work(std::declval<Engine&>())) {
    return engine_->call(std::move(work)).get();
  }

  // Plays from where it stands; after the input ended, from its first frame again.
  void play();
  void pause();
  // Pauses and produces one frame (the first again after the input ended).
  void step();
  // Makes frame `frame` of an input of known length the current one, starting the composition
  // afresh there; returns once it is produced and offered to the observer. The refusal, or
  // nothing.
  std::optional<std::string> seek(std::uint64_t frame);
  void setMaxSpeed(bool max);
  void setLoop(bool loop);
  void setPictureRate(double rate);
  TransportState state() const;
  // While the frames are stopped (or none come, without a frame source), tells the observer
  // again that they are (`settled`), from the engine's thread; returns at once.
  void settleAgainIfStopped();

  // From any thread, returns at once: `work` runs on the engine's thread between two frames.
  void post(Engine::Work work) { engine_->post(std::move(work)); }
  // On the engine's thread: pauses the input and evaluates `frame` (one from elsewhere, a page's
  // camera) in place of one of its frames, at `time` or by the frame count.
  void feed(std::shared_ptr<QCImage> frame, std::optional<double> time);

  // Replaces the composition whole, keeping the transport; `file` is where its relative paths
  // resolve.
  void replace(std::unique_ptr<Composition> composition,
               const std::optional<std::filesystem::path>& file);
  // Takes frames from `location` from the next frame, once its first frame was read; the
  // refusal, naming it, leaves the current input running.
  std::optional<std::string> switchInput(const std::string& location);

 private:
  using Clock = std::chrono::steady_clock;
  void loop();
  // One turn of the loop, on the engine's thread: a frame when one is due, or a wait.
  void turn(bool playing);
  void stopPlaying();
  void produce();
  void evaluateAgain();
  void settle();
  // The input's length and rate into state_, under its lock.
  void readInput();
  // Between two frames at the input's rate; none at maximum speed or without a rate.
  std::optional<Clock::duration> framePeriod() const;

  const std::unique_ptr<Engine> engine_;
  Observer observer_;
  // On the engine's thread: when the next frame is due, and whether the composition changed
  // since the last frame was evaluated.
  Clock::time_point due_;
  bool changed_ = false;

  mutable std::mutex mutex_;
  TransportState state_;
  bool settled_ = false;  // the observer was told of the stop since the last frame
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace cvcomp
