#include "LogPrinter.hpp"

#include <iostream>

namespace cvcomp {

LogSink stderrLogSink(bool verbose) {
  return [verbose](const LogRecord& record) {
    if (!verbose && (record.level == LogLevel::Debug || record.level == LogLevel::Info)) return;
    std::cerr << (record.origin.empty() ? std::string("cvcomp") : record.origin) << ": "
              << record.message << '\n'
              << std::flush;
  };
}

int fail(int status, const std::string& message) {
  std::cerr << "cvcomp: " << message << "\n";
  return status;
}

}  // namespace cvcomp
