#pragma once

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
#include <thread>

#include <nlohmann/json_fwd.hpp>

#include "host/Engine.hpp"

namespace cvcomp {

// Where the transport stands.
struct TransportState {
  bool playing = false;
  std::optional<std::uint64_t> frame;  // the last frame produced, none before the first
  bool ended = false;                  // the input had no more frames
  std::string failure;                 // why the input failed, naming it
};

// {"playing":..,"frame":N|null,"ended":..,"failure":".."|null}
nlohmann::json transportJson(const TransportState& state);

// Runs an engine on a thread of its own, frame after frame while playing. Every other access to
// the composition happens on that thread too, between two frames, through call(): requests from
// any thread never race the frame in progress.
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

  // `name` names the composition in messages; `file` is where relative paths resolve.
  StudioSession(std::unique_ptr<Engine> engine, const QCNodeManager& manager, std::string name,
                std::optional<std::filesystem::path> file, Observer observer);
  StudioSession(const StudioSession&) = delete;
  StudioSession& operator=(const StudioSession&) = delete;
  // Ends the frame in progress and the thread.
  ~StudioSession();

  // Runs `work` on the engine's thread between two frames and gives its result or exception.
  template <class Work>
  auto call(Work work) -> decltype(work(std::declval<Engine&>())) {
    using Result = decltype(work(std::declval<Engine&>()));
    std::packaged_task<Result()> task([this, &work] { return work(*engine_); });
    std::future<Result> done = task.get_future();
    enqueue([&task] { task(); });
    return done.get();
  }

  // Plays from where it stands; after the input ended, from its first frame again.
  void play();
  void pause();
  // Pauses and produces one frame (the first again after the input ended).
  void step();
  TransportState state() const;
  // While the frames are stopped, tells the observer again that they are (`settled`), from the
  // engine's thread; returns at once.
  void settleAgainIfStopped();

  // Replaces the composition whole, keeping the transport; `file` is where its relative paths
  // resolve.
  void replace(std::unique_ptr<Composition> composition,
               const std::optional<std::filesystem::path>& file);
  // Takes frames from `location` from the next frame, once its first frame was read; the
  // refusal, naming it, leaves the current input running.
  std::optional<std::string> switchInput(const std::string& location);

 private:
  void enqueue(std::function<void()> work);
  void loop();
  void stopPlaying();
  void produce();
  void settle();
  void install(std::unique_ptr<Engine> engine);

  const QCNodeManager& manager_;
  const std::string name_;
  std::optional<std::filesystem::path> file_;  // of the running composition
  std::unique_ptr<Engine> engine_;
  Observer observer_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> work_;
  TransportState state_;
  bool engineHoldsFrame_ = false;  // the engine's ports hold the last frame; its thread only
  bool settled_ = false;           // the observer was told of the stop since the last frame
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace cvcomp
