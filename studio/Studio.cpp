#include "Studio.hpp"

#include "JsonText.hpp"
#include "StaticFiles.hpp"

namespace cvcomp {

namespace {

// The address a browser on this machine opens.
std::string pageAddress(const std::string& host, int port, const std::string& token) {
  std::string shown = host == "0.0.0.0" ? "127.0.0.1" : host == "::" ? "::1" : host;
  if (shown.find(':') != std::string::npos) shown = "[" + shown + "]";
  return "http://" + shown + ":" + std::to_string(port) + "/?token=" + token;
}

std::unique_ptr<Engine> launchedEngine(const StudioLaunch& launch, const QCNodeManager& manager) {
  std::unique_ptr<Engine> engine;
  try {
    engine = launch.composition ? Engine::fromFile(*launch.composition, manager)
                                : std::make_unique<Engine>(std::make_unique<Composition>(manager),
                                                           manager, "composition", std::nullopt);
    if (launch.input) engine->setInput(*launch.input);
  } catch (const CompositionError& error) {
    throw StudioStartError(
        launch.input && engine ? "--input: the composition has no ImageSource" : error.what(),
        true);
  }
  if (launch.input) {
    if (const std::optional<std::string> failure = engine->open()) {
      throw StudioStartError(*failure, false);
    }
  }
  return engine;
}

// The page needs its editor and chart libraries, which npm installs next to it; without them the
// page would load with an empty palette and no word of why.
void checkPagePackages(const std::filesystem::path& webFolder) {
  std::error_code error;
  if (!std::filesystem::is_directory(webFolder / "node_modules" / "@comfyorg" / "litegraph",
                                     error) ||
      !std::filesystem::is_directory(webFolder / "node_modules" / "uplot", error)) {
    throw StudioStartError(webFolder.string() +
                               ": the page's packages are not installed; install them with "
                               "`npm ci --prefix " +
                               webFolder.string() + "`",
                           false);
  }
}

}  // namespace

Studio::Studio(const StudioLaunch& launch, const QCNodeManager& manager) {
  std::unique_ptr<Engine> engine = launchedEngine(launch, manager);
  const std::filesystem::path webFolder = studioWebFolder();
  checkPagePackages(webFolder);
  std::optional<std::filesystem::path> file;
  if (launch.composition) file = std::filesystem::absolute(*launch.composition);
  const std::string name = launch.composition ? launch.composition->string() : "composition";
  session_ = std::make_unique<StudioSession>(
      std::move(engine),
      StudioSession::Observer{
          [this](const FrameResult& frame, Engine& running) { hub_.frame(frame, running); },
          [this](Engine* holding, const TransportState& state) {
            hub_.settled(holding, jsonText(transportJson(state)));
          }});
  hub_.whenWatchChanges([this] { session_->settleAgainIfStopped(); });
  StudioOptions serving{launch.host, launch.port, launch.token.value_or(AccessRules::randomToken()),
                        webFolder,   name,        file};
  // Playing before the server answers: a pause that comes at once is never overtaken by the start.
  session_->play();
  try {
    server_.emplace(serving, *session_, hub_, manager);
  } catch (const std::runtime_error& error) {
    throw StudioStartError(error.what(), false);
  }
  address_ = pageAddress(launch.host, server_->port(), serving.token);
}

Studio::~Studio() {
  server_.reset();
  session_.reset();
}

void Studio::stopEngine() {
  if (server_) server_->finishRecording();
  session_.reset();
}

}  // namespace cvcomp
