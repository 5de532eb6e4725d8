#pragma once

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

namespace cvcomp {

class LiveHub;
class StudioSession;

// Records a picture port of the running composition to a video, and the run's JSON lines, in the
// recordings folder, from the next frame produced until stopped, with the writers and checks of
// `cvcomp run --video --json`. The frames are written on the engine's thread as they are produced;
// a failure (a full disk, a port that no longer exists) ends the recording, with what was written
// before kept readable, and every page is told
// {"type": "recording", "recording": {..., "failure": ".."}}.
class Recorder {
 public:
  Recorder(StudioSession& session, LiveHub& hub);
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;
  // Ends a recording in progress, unless finish() did.
  ~Recorder();
  // Ends a recording in progress while the session still runs; nothing is recorded after it.
  void finish();

  // Starts recording `port` ("id.port"; the published picture when none). Throws
  // CompositionError when the port carries no pictures or a recording is in progress, and
  // std::runtime_error naming the file when its files cannot be made. Answers
  // {"recording": true|false, "port": "id.port", "video": "NAME.avi", "json": "NAME.jsonl",
  // "frames": N, "failure": null|".."}, as stop() does.
  nlohmann::ordered_json start(const std::optional<std::string>& port);
  // Ends the recording in progress, its video closed with its index. Throws CompositionError
  // when there is none; a failure to close ends it too and is in the answer.
  nlohmann::ordered_json stop();

 private:
  struct Recording;
  // On the engine's thread.
  void end(const std::shared_ptr<Recording>& recording, std::optional<std::string> failure);

  StudioSession& session_;
  LiveHub& hub_;
  // Read and changed on the engine's thread only.
  std::shared_ptr<Recording> current_;
  bool finished_ = false;
};

}  // namespace cvcomp
