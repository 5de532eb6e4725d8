#include "OpenCVGuard.hpp"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/Composition.hpp"
#include "host/Log.hpp"

namespace cvcomp {

namespace {

// The reports printed so far and how often each came again since. Bounded: when it is full,
// the counts are printed and it starts afresh.
class ReportBook {
 public:
  ReportBook(const ReportBook&) = delete;
  ReportBook& operator=(const ReportBook&) = delete;
  ~ReportBook() { flush(); }

  static ReportBook& instance() {
    static ReportBook book;
    return book;
  }

  void report(std::string_view patch, std::string message) {
    while (message.ends_with('\n')) message.pop_back();
    const std::lock_guard lock(mutex_);
    for (Entry& entry : entries_) {
      if (entry.patch == patch && entry.message == message) {
        ++entry.repeats;
        return;
      }
    }
    if (entries_.size() == kMaxEntries) flushLocked();
    logMessage(LogLevel::Error, std::string(patch), message);
    entries_.push_back({std::string(patch), std::move(message), 0});
  }

  void flush() {
    const std::lock_guard lock(mutex_);
    flushLocked();
  }

 private:
  struct Entry {
    std::string patch;
    std::string message;
    std::uint64_t repeats;
  };
  static constexpr std::size_t kMaxEntries = 64;

  ReportBook() = default;

  void flushLocked() {
    for (const Entry& entry : entries_) {
      if (entry.repeats == 0) continue;
      logMessage(LogLevel::Error, entry.patch,
                 "repeated " + std::to_string(entry.repeats) +
                     (entry.repeats == 1 ? " more time: " : " more times: ") + entry.message);
    }
    entries_.clear();
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace

void reportOpenCVError(std::string_view patch, const std::exception& error) {
  notePatchError(error.what());
  ReportBook::instance().report(patch, error.what());
}

void flushOpenCVErrorReports() {
  ReportBook::instance().flush();
}

}  // namespace cvcomp
