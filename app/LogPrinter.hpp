#pragma once

#include <string>

#include "host/Log.hpp"

namespace cvcomp {

// The command's sink for the library's log: one line per record on standard error, as
// "origin: message", or "cvcomp: message" for the host's own. Debug and information records
// are shown only when `verbose`.
LogSink stderrLogSink(bool verbose);

// Prints "cvcomp: message" on standard error; gives `status`, for a command to end with.
int fail(int status, const std::string& message);

}  // namespace cvcomp
