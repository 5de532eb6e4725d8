#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace cvcomp {

class StudioSession;

// The largest message a page's camera may send: a frame as JPEG of the largest frame side's
// pictures (kMaxFrameSide) at a high quality, with room to spare. civetweb holds a live message
// whole before the studio sees it: a client that sends a larger one is closed.
inline constexpr std::size_t kMaxCameraMessage = 16u << 20;

// Frames from a page's camera, fed to the engine in place of its input's. A frame comes as a
// binary live message: its header's length (4 bytes, least significant first), the header as
// JSON, {"type": "camera", "time": T} (T, the frame's time in seconds, is optional), then the
// frame as JPEG. A connection's thread only checks a message and keeps its JPEG, so that it
// reads messages as fast as they come; at most one frame waits for the engine, and a newer one
// replaces it (the latest wins), so that a camera faster than the composition never builds a
// backlog. The engine's thread decodes the frame it takes.
class CameraFeed {
 public:
  struct Counts {
    std::uint64_t received = 0;   // frames taken
    std::uint64_t processed = 0;  // frames the engine evaluated
    std::uint64_t dropped = 0;    // frames replaced by a newer one before the engine took them
  };

  explicit CameraFeed(StudioSession& session);
  CameraFeed(const CameraFeed&) = delete;
  CameraFeed& operator=(const CameraFeed&) = delete;
  ~CameraFeed();

  // From a live connection's thread: takes one message; the refusal, for the client, when the
  // message is not a frame that can be fed (or the last frame fed could not be decoded or
  // evaluated).
  std::optional<std::string> received(std::string_view message);
  Counts counts() const;

 private:
  struct Slot;
  StudioSession& session_;
  std::shared_ptr<Slot> slot_;
};

// {"received":N,"processed":N,"dropped":N}
nlohmann::ordered_json countsJson(const CameraFeed::Counts& counts);

}  // namespace cvcomp
