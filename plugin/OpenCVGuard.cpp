#include "OpenCVGuard.hpp"

#include <cstdint>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

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
    if (!message.ends_with('\n')) message += '\n';
    const std::lock_guard lock(mutex_);
    for (Entry& entry : entries_) {
      if (entry.patch == patch && entry.message == message) {
        ++entry.repeats;
        return;
      }
    }
    if (entries_.size() == kMaxEntries) flushLocked();
    std::cerr << patch << ": " << message << std::flush;
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
      std::cerr << entry.patch << ": repeated " << entry.repeats
                << (entry.repeats == 1 ? " more time: " : " more times: ") << entry.message;
    }
    std::cerr << std::flush;
    entries_.clear();
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace

void reportOpenCVError(std::string_view patch, const std::exception& error) {
  ReportBook::instance().report(patch, error.what());
}

void flushOpenCVErrorReports() {
  ReportBook::instance().flush();
}

}  // namespace cvcomp
