#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>

#include "host/Engine.hpp"

struct mg_connection;

namespace cvcomp {

class LiveClient;

// The WebSocket clients that watch the running composition. Each one says what it watches with
// {"watch": ["id.port", ...], "maxSide": 640, "fps": 15}; for each frame it can take it gets one
// text message with the frame, its rate, the watched values and every patch's part in the frame,
// then one binary message per watched picture: a header naming the port and frame, then the
// picture as JPEG. A client holds at most one frame waiting to be sent: a newer frame replaces
// it, so a slow client never slows the engine nor grows the memory.
class LiveHub {
 public:
  LiveHub();
  LiveHub(const LiveHub&) = delete;
  LiveHub& operator=(const LiveHub&) = delete;
  ~LiveHub();

  // From the server's threads, as civetweb calls them for the connection.
  void connected(mg_connection* connection);
  void received(mg_connection* connection, std::string_view text);
  void closed(const mg_connection* connection);

  // From the engine's thread, for every produced frame.
  void frame(const FrameResult& frame, Engine& engine);

 private:
  using Clock = std::chrono::steady_clock;
  std::mutex mutex_;
  std::map<const mg_connection*, std::shared_ptr<LiveClient>> clients_;
  Clock::time_point lastFrame_;
  double fps_ = 0.0;
};

}  // namespace cvcomp
