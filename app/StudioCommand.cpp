#include <fcntl.h>
#include <spawn.h>

#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>

#include "Commands.hpp"
#include "LogPrinter.hpp"
#include "StopSignals.hpp"
#include "studio/Studio.hpp"

extern char** environ;

namespace cvcomp {

namespace {

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

}  // namespace

int studioCommand(const StudioCommandOptions& options, const QCNodeManager& manager) {
  // Before any thread exists, so that every thread leaves the stop signals to the watcher.
  StopSignals signals;
  std::optional<Studio> studio;
  try {
    studio.emplace(
        StudioLaunch{options.composition, options.input, options.host, options.port, options.token},
        manager);
  } catch (const StudioStartError& error) {
    return fail(error.usage ? kExitUsageError : kExitInputError, error.what());
  }
  if (options.host == "0.0.0.0" || options.host == "::") {
    std::cerr << "cvcomp: warning: listening on every network: anyone who has the token can "
                 "read files on this machine by path\n";
  }
  std::cout << studio->address() << std::endl;
  if (!options.noOpen) openBrowser(studio->address());

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
  studio->stopEngine();
  std::_Exit(128 + signals.received());
}

}  // namespace cvcomp
