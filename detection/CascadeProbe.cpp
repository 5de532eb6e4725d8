#include "CascadeProbe.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>

#include <opencv2/objdetect.hpp>

namespace cvcomp {

namespace {

constexpr int kLoads = 0;
constexpr int kHoldsNone = 1;

// In the child: only the reading, then an immediate exit that runs no handlers of the parent's.
[[noreturn]] void readInChild(const std::filesystem::path& path, unsigned timeLimitSeconds) {
  // A fault or the time limit ends the child by its signal, without a handler the parent may
  // have installed (a sanitizer's, a fuzzer's).
  for (int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGALRM})
    std::signal(signal, SIG_DFL);
  if (const int quiet = open("/dev/null", O_WRONLY); quiet >= 0) {
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
  }
  alarm(timeLimitSeconds);
  int result = kHoldsNone;
  try {
    cv::CascadeClassifier cascade;
    if (cascade.load(path.string()) && !cascade.empty()) result = kLoads;
  } catch (...) {
    // Refused by OpenCV: the file holds no usable cascade.
  }
  _exit(result);
}

}  // namespace

CascadeProbe probeCascade(const std::filesystem::path& path, unsigned timeLimitSeconds) {
  const pid_t child = fork();
  if (child < 0) return CascadeProbe::NotChecked;
  if (child == 0) readInChild(path, timeLimitSeconds);

  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return CascadeProbe::NotChecked;
  }
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status) == kLoads ? CascadeProbe::Loads : CascadeProbe::HoldsNone;
  }
  if (WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM) return CascadeProbe::TimedOut;
  return CascadeProbe::Crashed;
}

}  // namespace cvcomp
