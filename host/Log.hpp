#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace cvcomp {

// The one way the library reports what is worth a person's attention but is no error of the
// caller's: a picture skipped in a folder, a cascade file that holds no cascade, an OpenCV error
// inside a patch. The library never prints; a host installs a sink and decides what to show.
enum class LogLevel { Debug, Info, Warning, Error };

struct LogRecord {
  LogLevel level;
  std::string origin;  // who reports: a patch class or id, a file; empty for the host itself
  std::string message;
};

using LogSink = std::function<void(const LogRecord&)>;

// Installs the process's sink and returns the one it replaces. Without a sink records are
// dropped. Records may arrive from any thread; the sink is called under a lock, one at a time.
LogSink setLogSink(LogSink sink);

void logMessage(LogLevel level, std::string origin, std::string message);

// The sink that a command-line host installs: one line per record on `out` (standard error, as
// a rule), "origin: message", or "cvcomp: message" for the host's own. Debug and information
// records are written only when `verbose`.
LogSink streamLogSink(std::ostream& out, bool verbose);

}  // namespace cvcomp
