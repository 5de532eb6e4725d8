#include "OpenCVGuard.hpp"

#include <iostream>
#include <string>

namespace cvcomp {

void reportOpenCVError(std::string_view patch, const cv::Exception& error) {
  std::string message = error.what();
  if (!message.ends_with('\n')) message += '\n';
  std::cerr << patch << ": " << message << std::flush;
}

}  // namespace cvcomp
