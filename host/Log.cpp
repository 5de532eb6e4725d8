#include "Log.hpp"

#include <mutex>
#include <ostream>

namespace cvcomp {

namespace {
std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}
LogSink& currentSink() {
  static LogSink sink;
  return sink;
}
}  // namespace

LogSink setLogSink(LogSink sink) {
  const std::lock_guard lock(sinkMutex());
  std::swap(currentSink(), sink);
  return sink;
}

void logMessage(LogLevel level, std::string origin, std::string message) {
  const std::lock_guard lock(sinkMutex());
  if (currentSink()) currentSink()(LogRecord{level, std::move(origin), std::move(message)});
}

LogSink streamLogSink(std::ostream& out, bool verbose) {
  return [&out, verbose](const LogRecord& record) {
    if (!verbose && (record.level == LogLevel::Debug || record.level == LogLevel::Info)) return;
    out << (record.origin.empty() ? std::string("cvcomp") : record.origin) << ": " << record.message
        << '\n'
        << std::flush;
  };
}

}  // namespace cvcomp
