#include <fcntl.h>
#include <spawn.h>

#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>

#include <nlohmann/json.hpp>

#include "Commands.hpp"
#include "LogPrinter.hpp"
#include "StopSignals.hpp"
#include "host/Engine.hpp"
#include "studio/StaticFiles.hpp"
#include "studio/StudioServer.hpp"

extern char** environ;

namespace cvcomp {

namespace {

// The address a browser on this machine opens.
std::string pageAddress(const std::string& host, int port, const std::string& token) {
  std::string shown = host == "0.0.0.0" ? "127.0.0.1" : host == "::" ? "::1" : host;
  if (shown.find(':') != std::string::npos) shown = "[" + shown + "]";
  return "http://" + shown + ":" + std::to_string(port) + "/?token=" + token;
}

// Opens the page in the desktop's browser, when there is a desktop; its output is not shown.
void openBrowser(const std::string& address) {
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  char* arguments[] = {program.data(), const_cast<char*>(address.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "xdg-open", &actions, nullptr, arguments, environ) != 0) {
    std::cerr << "cvcomp: no browser could be opened; open the address above\n";
  }
  posix_spawn_file_actions_destroy(&actions);
}

std::unique_ptr<Engine> studioEngine(const StudioCommandOptions& options,
                                     const QCNodeManager& manager) {
  if (!options.composition) {
    return std::make_unique<Engine>(std::make_unique<Composition>(manager), manager, "composition",
                                    std::nullopt);
  }
  return Engine::fromFile(*options.composition, manager);
}

}  // namespace

int studioCommand(const StudioCommandOptions& options, const QCNodeManager& manager) {
  // Before any thread exists, so that every thread leaves the stop signals to the watcher.
  StopSignals signals;
  std::unique_ptr<Engine> engine;
  try {
    engine = studioEngine(options, manager);
    if (options.input) engine->setInput(*options.input);
  } catch (const CompositionError& error) {
    return fail(kExitUsageError, options.input && engine
                                     ? "--input: the composition has no ImageSource"
                                     : error.what());
  }
  if (options.input) {
    if (const std::optional<std::string> failure = engine->open()) {
      return fail(kExitInputError, *failure);
    }
  }
  std::optional<std::filesystem::path> file;
  if (options.composition) file = std::filesystem::absolute(*options.composition);
  const std::string name = options.composition.value_or("composition");

  LiveHub hub;
  auto session = std::make_unique<StudioSession>(
      std::move(engine),
      StudioSession::Observer{
          [&hub](const FrameResult& frame, Engine& running) { hub.frame(frame, running); },
          [&hub](Engine* holding, const TransportState& state) {
            hub.settled(holding, transportJson(state).dump());
          }});
  hub.whenWatchChanges([&session] { session->settleAgainIfStopped(); });
  StudioOptions serving{options.host,      options.port, AccessRules::randomToken(),
                        studioWebFolder(), name,         file};
  // Playing before the server answers: a pause that comes at once is never overtaken by the start.
  session->play();
  std::optional<StudioServer> server;
  try {
    server.emplace(serving, *session, hub, manager);
  } catch (const std::runtime_error& error) {
    return fail(kExitInputError, error.what());
  }
  if (options.host == "0.0.0.0" || options.host == "::") {
    std::cerr << "cvcomp: warning: listening on every network: anyone who has the token can "
                 "read files on this machine by path\n";
  }
  const std::string address = pageAddress(options.host, server->port(), serving.token);
  std::cout << address << std::endl;
  if (!options.noOpen) openBrowser(address);

  std::mutex mutex;
  std::condition_variable stopped;
  bool stopping = false;
  signals.watch(
      [&] {
        const std::lock_guard lock(mutex);
        stopping = true;
        stopped.notify_all();
      },
      [] {}, std::chrono::milliseconds(1500));
  {
    std::unique_lock lock(mutex);
    stopped.wait(lock, [&] { return stopping; });
  }
  // The engine stops after the frame in progress. The studio holds nothing unwritten (a save
  // is renamed into place whole), so the connections are dropped rather than drained, which
  // civetweb takes two seconds to do.
  session.reset();
  std::_Exit(128 + signals.received());
}

}  // namespace cvcomp
