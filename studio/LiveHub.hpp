#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "host/Engine.hpp"

struct mg_connection;

namespace cvcomp {

class LiveClient;

// The WebSocket clients that watch the running composition. Every message, both ways, says what
// it is by its "type". A client says what it watches with
// {"type": "watch", "ports": ["id.port", ...], "maxSide": 640, "fps": 15} (see WatchRequest.hpp);
// a refused request is answered {"type": "error", "error": ".."}. For each frame it can take it
// gets one text message {"type": "frame", "frame": N, "time": T, "seq": S, "fps": F,
// "values": {..}, "patches": {..}} with the watched values and every patch's part in the frame,
// then one binary message per watched picture: a JSON header {"type": "picture", "frame": N,
// "seq": S, "port": ".."} after
// its length (4 bytes, least significant first), then the picture as JPEG. When the frames stop,
// it gets {"type": "transport", "transport": {..}}. A client that changes what it watches while
// the frames are stopped is sent the last frame again, as it now watches it. S counts the
// frames evaluated, from 1, and only goes up: frame numbers start again after a restart, a loop or
// a seek, and a frame evaluated again keeps its number. A client holds at
// most one frame waiting to be sent: a newer frame replaces it, so a slow client never slows the
// engine nor grows the memory. Every applied batch of edits and every replaced composition is
// told to every client (edits(), replaced()), none ever dropped for a frame.
class LiveHub {
 public:
  LiveHub();
  LiveHub(const LiveHub&) = delete;
  LiveHub& operator=(const LiveHub&) = delete;
  ~LiveHub();

  // Called, from a server thread, after a client changed what it watches.
  void whenWatchChanges(std::function<void()> changed);

  // The clients connected now.
  std::size_t clientCount();

  // From the server's threads, as civetweb calls them for the connection.
  void connected(mg_connection* connection);
  void received(mg_connection* connection, std::string_view text);
  void closed(const mg_connection* connection);

  // From the engine's thread, for every produced frame.
  void frame(const FrameResult& frame, Engine& engine);
  // From the engine's thread, for every applied batch: every client is sent
  // {"type":"edits","revision":N,"edits":[..],"origin":"client id"|null}, in order (see
  // LiveClient::queueText). `origin` is the id a client sent its batch with, empty for none.
  void edits(const AppliedBatch& batch, const std::string& origin);
  // After the composition was replaced whole: {"type":"composition","revision":N}.
  void replaced(std::uint64_t revision);
  // From the engine's thread when the frames stop: when `holding` (an engine whose ports hold the
  // last frame produced), clients that skipped that frame for their rate are sent it; then every
  // client is sent {"transport": `transport`}.
  void settled(Engine* holding, const std::string& transport);
  // From any thread: queues `text` for every client, in order (news that no frame may replace).
  void broadcast(const std::string& text);
  // From any thread: sends the client of `connection` `text` at once (an answer to its message).
  void tell(const mg_connection* connection, const std::string& text);

 private:
  using Clock = std::chrono::steady_clock;
  struct Watcher {
    std::shared_ptr<LiveClient> client;
    std::uint64_t offered = 0;  // the count of the last frame offered to it
  };
  void offer(Watcher& watcher, Engine& engine, Clock::time_point now);

  std::function<void()> watchChanged_;
  std::mutex mutex_;
  std::map<const mg_connection*, Watcher> clients_;
  // A batch of edits was applied since the last frame: the next one goes to every client at
  // once, whatever its rate, so that a change shows as soon as it is evaluated.
  bool edited_ = false;
  std::uint64_t produced_ = 0;  // frames seen, counted from 1
  std::uint64_t lastNumber_ = 0;
  double lastTime_ = 0.0;
  Clock::time_point lastFrame_;
  double fps_ = 0.0;
};

}  // namespace cvcomp
