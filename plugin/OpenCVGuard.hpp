#pragma once

#include <exception>
#include <string_view>

#include <opencv2/core.hpp>

namespace cvcomp {

// Reports a failed OpenCV call to the host's logger as an error of the patch (host/Log.hpp; a
// face decides where log lines go, the command line's to standard error). The first report of
// a message from a patch is logged at once; the same report again is only counted, so that an
// error repeated frame after frame stays one line. The counts are logged by
// flushOpenCVErrorReports, and at the latest when the process ends.
void reportOpenCVError(std::string_view patch, const std::exception& error);

// Logs, for every report that came again since it was logged, how often it came again with the
// message itself; afterwards each report is logged at once again the next time it comes.
void flushOpenCVErrorReports();

// Runs OpenCV calls so that an error ends only the failing call: it is reported and the patch
// goes on. Returns false when an error was reported. Besides its own cv::Exception, OpenCV lets
// standard exceptions through from some inputs (a corrupt file can make its parser ask for an
// impossible string length): they are errors of the call alike.
template <class Call>
bool guardOpenCV(std::string_view patch, Call&& call) {
  try {
    call();
    return true;
  } catch (const std::exception& error) {
    reportOpenCVError(patch, error);
    return false;
  }
}

}  // namespace cvcomp
