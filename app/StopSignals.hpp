#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

namespace cvcomp {

// SIGINT, SIGTERM and SIGHUP end a run: the first asks it to stop before its next frame; when the
// frame in progress has not finished `grace` later (a patch can be busy for minutes), `abandon`
// is called to close what was written and the process ends at once with status 128 + the
// signal's number. A second signal ends the process at once.
//
// The signals are blocked in the thread that makes this and in every thread it starts afterwards,
// and taken by a watcher thread of their own; so make it before any other thread exists.
class StopSignals {
 public:
  StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  // Stops watching at once; the signals stay blocked, so one arriving later is ignored.
  ~StopSignals();

  void watch(std::function<void()> stop, std::function<void()> abandon,
             std::chrono::milliseconds grace);
  // The first signal received, 0 while there was none.
  int received() const { return received_.load(); }

 private:
  std::atomic<int> received_ = 0;
  int signals_ = -1;  // a signalfd of the stop signals
  int wake_ = -1;     // an eventfd that ends the watcher
  std::thread watcher_;
};

}  // namespace cvcomp
