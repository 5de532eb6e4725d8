#include "LiveHub.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "LiveClient.hpp"
#include "host/JsonOutput.hpp"
#include "host/JsonReading.hpp"
#include "host/patches/FramePictures.hpp"

namespace cvcomp {

namespace {

void appendKey(std::string& out, const std::string& key) {
  out += nlohmann::json(key).dump();
  out += ':';
}

// Every patch's part in the frame: {"id":{"ms":..,"executed":..,"error":null|".."},...}.
void appendPatches(std::string& out, const Composition& composition) {
  out += '{';
  bool first = true;
  for (const Composition::Patch& entry : composition.patches()) {
    if (!first) out += ',';
    first = false;
    appendKey(out, entry.id);
    out += "{\"ms\":";
    appendJsonNumber(out, QCNumber::withDouble(entry.lastMilliseconds));
    out += entry.executedLastFrame ? ",\"executed\":true" : ",\"executed\":false";
    out += ",\"error\":";
    out += entry.lastError.empty() ? "null" : nlohmann::json(entry.lastError).dump();
    out += '}';
  }
  out += '}';
}

// The frame for one client: the values of the watched ports that go into JSON lines, and a copy
// of each watched picture. Ports that do not exist (any more) are left out.
LiveFrame liveFrame(std::uint64_t number, double time, Engine& engine, const Watch& watch,
                    double fps) {
  const Composition& composition = engine.composition();
  LiveFrame live;
  live.frame = number;
  live.text = frameLine(number, time, {});
  live.text.pop_back();
  live.text += ",\"fps\":";
  appendJsonNumber(live.text, QCNumber::withDouble(fps));
  live.text += ",\"values\":{";
  bool first = true;
  for (const std::string& path : watch.ports) {
    const QCPort* port = nullptr;
    try {
      port = &composition.port(path);
    } catch (const CompositionError&) {
      continue;
    }
    if (writesAsJson(port->kind())) {
      if (!first) live.text += ',';
      first = false;
      appendKey(live.text, path);
      appendJsonValue(live.text, port->genericValue());
    } else if (std::optional<cv::Mat> picture = portPicture(*port)) {
      live.pictures.emplace_back(path, std::move(*picture));
    }
  }
  live.text += "},\"patches\":";
  appendPatches(live.text, composition);
  live.text += '}';
  return live;
}

// The watch request {"watch": [...], "maxSide": N, "fps": F}; throws CompositionError.
Watch watchFrom(std::string_view text, Watch watch) {
  const nlohmann::ordered_json request = parseJsonText(text);
  if (!request.is_object()) throw CompositionError("a watch request must be a JSON object");
  expectOnly(request, {"watch", "maxSide", "fps"}, "the watch request");
  if (const auto ports = request.find("watch"); ports != request.end()) {
    if (!ports->is_array() || !std::all_of(ports->begin(), ports->end(),
                                           [](const auto& port) { return port.is_string(); })) {
      throw CompositionError("\"watch\" must be an array of ports");
    }
    watch.ports = ports->get<std::vector<std::string>>();
  }
  if (request.contains("maxSide")) {
    watch.maxSide = static_cast<int>(
        std::clamp(numberAt(request, "maxSide", "the watch request"), 16.0, 4096.0));
  }
  if (request.contains("fps")) {
    const double fps = numberAt(request, "fps", "the watch request");
    watch.fps = fps <= 0.0 ? 0.0 : std::clamp(fps, 0.1, 60.0);
  }
  return watch;
}

}  // namespace

LiveHub::LiveHub() = default;

LiveHub::~LiveHub() = default;

void LiveHub::connected(mg_connection* connection) {
  auto client = std::make_shared<LiveClient>(connection);
  const std::lock_guard lock(mutex_);
  clients_[connection] = Watcher{std::move(client)};
}

void LiveHub::received(mg_connection* connection, std::string_view text) {
  std::shared_ptr<LiveClient> client;
  {
    const std::lock_guard lock(mutex_);
    const auto found = clients_.find(connection);
    if (found == clients_.end()) return;
    client = found->second.client;
  }
  try {
    client->setWatch(watchFrom(text, client->watch()));
  } catch (const CompositionError& error) {
    client->sendText(nlohmann::json{{"error", error.what()}}.dump());
    return;
  }
  {
    const std::lock_guard lock(mutex_);
    if (const auto found = clients_.find(connection); found != clients_.end()) {
      found->second.offered = 0;
    }
  }
  if (watchChanged_) watchChanged_();
}

void LiveHub::whenWatchChanges(std::function<void()> changed) {
  watchChanged_ = std::move(changed);
}

void LiveHub::closed(const mg_connection* connection) {
  std::shared_ptr<LiveClient> client;
  {
    const std::lock_guard lock(mutex_);
    const auto found = clients_.find(connection);
    if (found == clients_.end()) return;
    client = std::move(found->second.client);
    clients_.erase(found);
  }
}

void LiveHub::frame(const FrameResult& frame, Engine& engine) {
  const Clock::time_point now = Clock::now();
  const std::lock_guard lock(mutex_);
  // The rate of the last frames, smoothed so that it reads steadily.
  const double interval = std::chrono::duration<double>(now - lastFrame_).count();
  lastFrame_ = now;
  if (interval > 0.0 && interval < 10.0)
    fps_ = fps_ == 0.0 ? 1.0 / interval : 0.9 * fps_ + 0.1 / interval;
  ++produced_;
  lastNumber_ = frame.frame;
  lastTime_ = frame.time;
  for (auto& [connection, watcher] : clients_) {
    if (watcher.client->due(now)) offer(watcher, engine, now);
  }
}

void LiveHub::settled(Engine* holding, const std::string& transport) {
  const Clock::time_point now = Clock::now();
  const std::string message = "{\"transport\":" + transport + "}";
  const std::lock_guard lock(mutex_);
  for (auto& [connection, watcher] : clients_) {
    if (holding && watcher.offered != produced_) {
      offer(watcher, *holding, now);
    }
    watcher.client->offerText(message);
  }
}

void LiveHub::offer(Watcher& watcher, Engine& engine, Clock::time_point now) {
  watcher.client->offer(liveFrame(lastNumber_, lastTime_, engine, watcher.client->watch(), fps_),
                        now);
  watcher.offered = produced_;
}

}  // namespace cvcomp
