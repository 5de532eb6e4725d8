#include "CascadeProbe.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "host/InstallLayout.hpp"

namespace cvcomp {

// The probe is a small program of its own, started with posix_spawn rather than a fork of this
// process: a fork copies a process whose other threads (the frame reader, OpenCV's workers) may
// hold locks at that moment, such as an allocator's, which the child then waits on for ever; and
// every page this process writes afterwards would take a copy-on-write fault.
CascadeProbe probeCascade(const std::filesystem::path& path, unsigned timeLimitSeconds) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // The probe starts with no signal blocked and none ignored, whatever this process has set.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  const std::string program = helperProgramPath("cvcomp_cascade_probe").string();
  std::string file = path.string();
  std::string seconds = std::to_string(timeLimitSeconds);
  char* arguments[] = {const_cast<char*>(program.c_str()), file.data(), seconds.data(), nullptr};
  char* environment[] = {nullptr};
  pid_t child = -1;
  const int spawned =
      posix_spawn(&child, program.c_str(), &actions, &attributes, arguments, environment);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return CascadeProbe::NotChecked;

  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return CascadeProbe::NotChecked;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) <= 1) {
    return WEXITSTATUS(status) == 0 ? CascadeProbe::Loads : CascadeProbe::HoldsNone;
  }
  if (WIFEXITED(status)) return CascadeProbe::NotChecked;
  if (WTERMSIG(status) == SIGALRM) return CascadeProbe::TimedOut;
  return CascadeProbe::Crashed;
}

}  // namespace cvcomp
