#include "StopSignals.hpp"

#include <signal.h>
#include <unistd.h>

#include <ctime>

namespace cvcomp {

namespace {

sigset_t stopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, signal);
  return set;
}

// Waits up to `timeout` for one of the signals; 0 when none came.
int waitForSignal(const sigset_t& set, std::chrono::milliseconds timeout) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout);
  const timespec limit{
      static_cast<time_t>(seconds.count()),
      static_cast<long>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(timeout - seconds).count())};
  const int signal = sigtimedwait(&set, nullptr, &limit);
  return signal > 0 ? signal : 0;
}

}  // namespace

StopSignals::StopSignals() {
  const sigset_t set = stopSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

StopSignals::~StopSignals() {
  done_ = true;
  if (watcher_.joinable()) watcher_.join();
}

void StopSignals::watch(std::function<void()> stop, std::function<void()> abandon,
                        std::chrono::milliseconds grace) {
  watcher_ = std::thread([this, stop = std::move(stop), abandon = std::move(abandon), grace] {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds kPoll(50);
    const sigset_t set = stopSignals();
    Clock::time_point deadline = Clock::time_point::max();
    while (!done_) {
      const int signal = waitForSignal(set, kPoll);
      if (signal != 0 && received_ != 0) _exit(128 + received_);
      if (signal != 0) {
        received_ = signal;
        stop();
        deadline = Clock::now() + grace;
      }
      if (Clock::now() >= deadline && !done_) {
        abandon();
        _exit(128 + received_);
      }
    }
  });
}

}  // namespace cvcomp
