#include "Recorder.hpp"

#include <stdexcept>

#include <nlohmann/json.hpp>

#include "JsonText.hpp"
#include "LiveHub.hpp"
#include "StudioFiles.hpp"
#include "StudioSession.hpp"
#include "host/output/RunOutputs.hpp"
#include "host/patches/FramePictures.hpp"

namespace cvcomp {

struct Recorder::Recording {
  std::string port;
  std::string video;  // the files' names in the recordings folder
  std::string json;
  RunOutputs outputs;
  std::uint64_t frames = 0;
  std::optional<int> observer;  // while it records
  std::optional<std::string> failure;

  nlohmann::ordered_json state() const {
    nlohmann::ordered_json answer{{"recording", observer.has_value()},
                                  {"port", port},
                                  {"video", video},
                                  {"json", json},
                                  {"frames", frames},
                                  {"failure", nullptr}};
    if (failure) answer["failure"] = *failure;
    return answer;
  }
};

namespace {

bool present(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::exists(path, error) || error;
}

}  // namespace

Recorder::Recorder(StudioSession& session, LiveHub& hub) : session_(session), hub_(hub) {}

Recorder::~Recorder() {
  if (!finished_) finish();
}

void Recorder::finish() {
  finished_ = true;
  session_.call([this](Engine&) {
    if (current_ && current_->observer) end(current_, std::nullopt);
  });
}

nlohmann::ordered_json Recorder::start(const std::optional<std::string>& port) {
  return session_.call([&](Engine& engine) {
    if (current_ && current_->observer) {
      throw CompositionError("a recording of \"" + current_->port + "\" is in progress");
    }
    const Composition& composition = engine.composition();
    const QCPort* picture = port ? &composition.port(*port) : publishedPicture(composition);
    if (!picture) throw CompositionError("the composition publishes no picture to record");
    const std::string path = composition.pathOf(*picture);
    if (!carriesPicture(*picture)) throw CompositionError("\"" + path + "\" carries no pictures");
    const std::filesystem::path folder = recordingsFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw std::runtime_error(folder.string() + ": " + error.message());
    auto recording = std::make_shared<Recording>();
    recording->port = path;
    recording->video = freeName(*safeFileName(path) + ".avi", [&](const std::string& name) {
      return present(folder / name) ||
             present(folder / (std::filesystem::path(name).stem().string() + ".jsonl"));
    });
    recording->json = std::filesystem::path(recording->video).stem().string() + ".jsonl";
    if (const auto failure = recording->outputs.open((folder / recording->json).string(),
                                                     (folder / recording->video).string(),
                                                     engine.framesPerSecond(), path)) {
      throw std::runtime_error(*failure);
    }
    recording->observer = engine.addObserver([this, recording](const FrameResult& frame) {
      // The frame that ended it may not be the last this observer sees.
      if (!recording->observer) return;
      std::optional<std::string> failure;
      try {
        failure = recording->outputs.write(frame);
      } catch (const std::exception& thrown) {
        failure = thrown.what();
      }
      if (failure) {
        end(recording, failure);
      } else {
        ++recording->frames;
      }
    });
    current_ = recording;
    return current_->state();
  });
}

nlohmann::ordered_json Recorder::stop() {
  return session_.call([this](Engine&) {
    if (!current_ || !current_->observer) throw CompositionError("no recording is in progress");
    end(current_, std::nullopt);
    return current_->state();
  });
}

void Recorder::end(const std::shared_ptr<Recording>& recording,
                   std::optional<std::string> failure) {
  session_.post([id = *recording->observer](Engine& engine) { engine.removeObserver(id); });
  recording->observer.reset();
  const std::optional<std::string> closing = recording->outputs.close();
  recording->failure = failure ? failure : closing;
  if (failure) {
    hub_.broadcast(jsonText({{"type", "recording"}, {"recording", recording->state()}}));
  }
}

}  // namespace cvcomp
