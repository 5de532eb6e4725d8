#include "Log.hpp"

#include <mutex>

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

}  // namespace cvcomp
