#include "LiveHub.hpp"

#include <utility>

#include "JsonText.hpp"
#include "LiveClient.hpp"
#include "WatchRequest.hpp"
#include "host/EditJson.hpp"
#include "host/JsonOutput.hpp"
#include "host/patches/FramePictures.hpp"

namespace cvcomp {

namespace {

void appendKey(std::string& out, const std::string& key) {
  out += jsonText(key);
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
    out += entry.lastError.empty() ? "null" : jsonText(entry.lastError);
    out += '}';
  }
  out += '}';
}

// The port "id.port" of the composition, or null: a watched port that does not exist (any more)
// costs two look-ups a frame, not an exception.
const QCPort* findPort(const Composition& composition, std::string_view path) {
  const std::size_t dot = path.find('.');
  if (dot == std::string_view::npos) return nullptr;
  const QCPatch* owner = composition.patch(path.substr(0, dot));
  return owner ? owner->port(path.substr(dot + 1)) : nullptr;
}

// The frame for one client: {"type":"frame","frame":N,"time":T,...} with the values of the
// watched ports that go into JSON lines, and a copy of each watched picture. Ports that do not
// exist (any more) are left out.
LiveFrame liveFrame(std::uint64_t number, double time, std::uint64_t sequence, Engine& engine,
                    const Watch& watch, double fps) {
  const Composition& composition = engine.composition();
  LiveFrame live;
  live.frame = number;
  live.sequence = sequence;
  live.text = "{\"type\":\"frame\"," + frameLine(number, time, {}).substr(1);
  live.text.pop_back();
  live.text += ",\"seq\":" + std::to_string(sequence) + ",\"fps\":";
  appendJsonNumber(live.text, QCNumber::withDouble(fps));
  live.text += ",\"values\":{";
  bool first = true;
  for (const std::string& path : watch.ports) {
    const QCPort* port = findPort(composition, path);
    if (!port) continue;
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

}  // namespace

LiveHub::LiveHub() = default;

LiveHub::~LiveHub() = default;

std::size_t LiveHub::clientCount() {
  const std::lock_guard lock(mutex_);
  return clients_.size();
}

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
    client->setWatch(readWatchRequest(text, client->watch()));
  } catch (const std::exception& error) {
    // A refusal, or memory that ran out, is the client's answer: nothing leaves civetweb's thread.
    client->sendText(jsonText({{"type", "error"}, {"error", error.what()}}));
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
  const bool edited = std::exchange(edited_, false);
  for (auto& [connection, watcher] : clients_) {
    if (edited || watcher.client->due(now)) offer(watcher, engine, now);
  }
}

void LiveHub::settled(Engine* holding, const std::string& transport) {
  const Clock::time_point now = Clock::now();
  const std::string message = "{\"type\":\"transport\",\"transport\":" + transport + "}";
  const std::lock_guard lock(mutex_);
  for (auto& [connection, watcher] : clients_) {
    if (holding && watcher.offered != produced_) {
      offer(watcher, *holding, now);
    }
    watcher.client->offerText(message);
  }
}

void LiveHub::edits(const AppliedBatch& batch, const std::string& origin) {
  nlohmann::ordered_json message{{"type", "edits"},
                                 {"revision", batch.revision},
                                 {"edits", editsJson(batch.edits)},
                                 {"origin", nullptr}};
  if (!origin.empty()) message["origin"] = origin;
  broadcast(jsonText(message));
  const std::lock_guard lock(mutex_);
  edited_ = true;
}

void LiveHub::replaced(std::uint64_t revision) {
  broadcast(jsonText({{"type", "composition"}, {"revision", revision}}));
}

void LiveHub::broadcast(const std::string& text) {
  const std::lock_guard lock(mutex_);
  for (auto& [connection, watcher] : clients_) watcher.client->queueText(text);
}

void LiveHub::tell(const mg_connection* connection, const std::string& text) {
  std::shared_ptr<LiveClient> client;
  {
    const std::lock_guard lock(mutex_);
    const auto found = clients_.find(connection);
    if (found == clients_.end()) return;
    client = found->second.client;
  }
  client->sendText(text);
}

void LiveHub::offer(Watcher& watcher, Engine& engine, Clock::time_point now) {
  watcher.client->offer(
      liveFrame(lastNumber_, lastTime_, produced_, engine, watcher.client->watch(), fps_), now);
  watcher.offered = produced_;
}

}  // namespace cvcomp
