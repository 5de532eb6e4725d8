#include "StopSignals.hpp"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <system_error>

namespace cvcomp {

namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  return set;
}

int checked(int descriptor, const char* what) {
  if (descriptor < 0) throw std::system_error(errno, std::generic_category(), what);
  return descriptor;
}

}  // namespace

StopSignals::StopSignals() {
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signals_ = checked(signalfd(-1, &set, SFD_CLOEXEC), "signalfd");
  wake_ = checked(eventfd(0, EFD_CLOEXEC), "eventfd");
}

StopSignals::~StopSignals() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
  if (watcher_.joinable()) watcher_.join();
  close(signals_);
  close(wake_);
}

// The watcher sleeps until a signal comes, the grace period after the first one ends, or the
// object goes: a run that ends by itself never waits for it.
void StopSignals::watch(std::function<void()> stop, std::function<void()> abandon,
                        std::chrono::milliseconds grace) {
  watcher_ = std::thread([this, stop = std::move(stop), abandon = std::move(abandon), grace] {
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> deadline;
    pollfd watched[] = {{signals_, POLLIN, 0}, {wake_, POLLIN, 0}};
    while (true) {
      int timeout = -1;
      if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        timeout = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
      }
      const int ready = poll(watched, 2, timeout);
      if (ready < 0 && errno == EINTR) continue;
      if (watched[1].revents != 0) return;
      if (ready > 0 && (watched[0].revents & POLLIN) != 0) {
        signalfd_siginfo taken{};
        if (read(signals_, &taken, sizeof taken) != sizeof taken) continue;
        if (received_ != 0) _exit(128 + received_);
        received_ = static_cast<int>(taken.ssi_signo);
        stop();
        deadline = Clock::now() + grace;
      } else if (deadline && Clock::now() >= *deadline) {
        abandon();
        _exit(128 + received_);
      }
    }
  });
}

}  // namespace cvcomp
