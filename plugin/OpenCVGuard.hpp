#pragma once

#include <string_view>

#include <opencv2/core.hpp>

namespace cvcomp {

// Prints OpenCV's report of a failed call on the standard error stream, naming the patch.
void reportOpenCVError(std::string_view patch, const cv::Exception& error);

// Runs OpenCV calls so that an error ends only the failing call: it is reported and the patch
// goes on. Returns false when an error was reported.
template <class Call>
bool guardOpenCV(std::string_view patch, Call&& call) {
  try {
    call();
    return true;
  } catch (const cv::Exception& error) {
    reportOpenCVError(patch, error);
    return false;
  }
}

}  // namespace cvcomp
