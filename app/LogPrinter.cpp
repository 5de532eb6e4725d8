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

}  // namespace cvcomp
