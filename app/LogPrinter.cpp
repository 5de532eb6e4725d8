#include "LogPrinter.hpp"

#include <iostream>

namespace cvcomp {

int fail(int status, const std::string& message) {
  std::cerr << "cvcomp: " << message << "\n";
  return status;
}

}  // namespace cvcomp
