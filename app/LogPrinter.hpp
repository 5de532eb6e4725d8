#pragma once

#include "host/Log.hpp"

namespace cvcomp {

// The command's sink for the library's log: one line per record on standard error, as
// "origin: message", or "cvcomp: message" for the host's own. Debug and information records
// are shown only when `verbose`.
LogSink stderrLogSink(bool verbose);

}  // namespace cvcomp
